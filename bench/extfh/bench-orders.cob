      *> bench-orders images|write|read FILE COUNT: the COBOL side of the
      *> bridge benchmark. Takes the order records of orders.dat (a plain
      *> file write-orders wrote, 1000 orders) as prepared record images,
      *> then: images writes them to FILE as fixed 217-byte records; write
      *> writes COUNT records to FILE, moving the images in turn, nothing
      *> computed; read reads FILE to its end and shows the count.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. BENCH-ORDERS.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT ORDERS-FILE ASSIGN TO FILE-NAME
               ORGANIZATION SEQUENTIAL FILE STATUS FS.
           SELECT SOURCE-FILE ASSIGN TO "orders.dat"
               ORGANIZATION SEQUENTIAL FILE STATUS FS.
           SELECT IMAGE-FILE ASSIGN TO FILE-NAME
               ORGANIZATION SEQUENTIAL FILE STATUS FS.
       DATA DIVISION.
       FILE SECTION.
       FD  ORDERS-FILE.
       COPY orders.
       FD  SOURCE-FILE RECORD IS VARYING IN SIZE FROM 1 TO 217.
       01  SOURCE-REC          PIC X(217).
       FD  IMAGE-FILE.
       01  IMAGE-REC           PIC X(217).
       WORKING-STORAGE SECTION.
       01  FS                  PIC XX.
       01  MODE-WORD           PIC X(10).
       01  FILE-NAME           PIC X(200).
       01  COUNT-TEXT          PIC X(20).
       01  RECORD-COUNT        PIC 9(9).
       01  ROUNDS              PIC 9(9).
       01  IMAGE-COUNT         PIC 9(4) VALUE 0.
       01  I                   PIC 9(4).
       01  IMAGES.
           05  IMAGE           PIC X(217) OCCURS 1000 TIMES.
       PROCEDURE DIVISION.
           ACCEPT MODE-WORD FROM ARGUMENT-VALUE
           ACCEPT FILE-NAME FROM ARGUMENT-VALUE
           ACCEPT COUNT-TEXT FROM ARGUMENT-VALUE
           MOVE FUNCTION NUMVAL(COUNT-TEXT) TO RECORD-COUNT
           EVALUATE MODE-WORD
           WHEN "images"
               PERFORM LOAD-IMAGES
               OPEN OUTPUT IMAGE-FILE
               PERFORM VARYING I FROM 1 BY 1 UNTIL I > IMAGE-COUNT
                   WRITE IMAGE-REC FROM IMAGE(I)
               END-PERFORM
               CLOSE IMAGE-FILE
           WHEN "write"
               PERFORM LOAD-IMAGES
               DIVIDE RECORD-COUNT BY 1000 GIVING ROUNDS
               OPEN OUTPUT ORDERS-FILE
               PERFORM ROUNDS TIMES
                   PERFORM VARYING I FROM 1 BY 1 UNTIL I > 1000
                       MOVE IMAGE(I) TO ORDER-REC
                       WRITE ORDER-REC
                   END-PERFORM
               END-PERFORM
               CLOSE ORDERS-FILE
           WHEN "read"
               MOVE 0 TO RECORD-COUNT
               OPEN INPUT ORDERS-FILE
               PERFORM UNTIL FS NOT = "00"
                   READ ORDERS-FILE
                   IF FS = "00"
                       ADD 1 TO RECORD-COUNT
                   END-IF
               END-PERFORM
               CLOSE ORDERS-FILE
           END-EVALUATE
           DISPLAY MODE-WORD " " RECORD-COUNT " " FS
           STOP RUN.

       LOAD-IMAGES.
           OPEN INPUT SOURCE-FILE
           PERFORM UNTIL FS NOT = "00" OR IMAGE-COUNT = 1000
               READ SOURCE-FILE
               IF FS = "00" AND SOURCE-REC(1:1) = "O"
                   ADD 1 TO IMAGE-COUNT
                   MOVE SOURCE-REC TO IMAGE(IMAGE-COUNT)
               END-IF
           END-PERFORM
           CLOSE SOURCE-FILE
           IF IMAGE-COUNT NOT = 1000
               DISPLAY "bench-orders: orders.dat holds " IMAGE-COUNT
                   " orders, not 1000"
               MOVE 1 TO RETURN-CODE
               STOP RUN
           END-IF.
