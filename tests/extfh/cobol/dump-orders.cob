      *> dump-orders file: each record of an orders file (orders.cpy) as
      *> its type, its length and its bytes in hexadecimal, one per line,
      *> then the last file status.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. DUMP-ORDERS.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT ORDERS-FILE ASSIGN TO FILE-NAME
               ORGANIZATION SEQUENTIAL FILE STATUS IS FS.
       DATA DIVISION.
       FILE SECTION.
       FD  ORDERS-FILE.
       COPY orders.
       WORKING-STORAGE SECTION.
       01  FILE-NAME               PIC X(200).
       01  FS                      PIC XX.
       01  HEX-DIGITS              PIC X(16) VALUE "0123456789ABCDEF".
       01  SIZE-OF-RECORD          PIC 999.
       01  I                       PIC 999.
       01  CODE-OF-BYTE            PIC 999.
       01  LINE-OUT                PIC X(600).
       PROCEDURE DIVISION.
           ACCEPT FILE-NAME FROM ARGUMENT-VALUE
           OPEN INPUT ORDERS-FILE
           PERFORM UNTIL FS NOT = "00"
               READ ORDERS-FILE
               IF FS = "00"
                   IF ORD-TYPE = "T"
                       MOVE LENGTH OF TRAILER-REC TO SIZE-OF-RECORD
                   ELSE
                       MOVE LENGTH OF ORDER-REC TO SIZE-OF-RECORD
                   END-IF
                   MOVE SPACES TO LINE-OUT
                   PERFORM VARYING I FROM 1 BY 1
                           UNTIL I > SIZE-OF-RECORD
                       COMPUTE CODE-OF-BYTE =
                           FUNCTION ORD(ORDER-REC(I:1)) - 1
                       MOVE HEX-DIGITS(CODE-OF-BYTE / 16 + 1:1)
                           TO LINE-OUT(I * 2 - 1:1)
                       MOVE HEX-DIGITS(FUNCTION MOD(CODE-OF-BYTE, 16)
                           + 1:1) TO LINE-OUT(I * 2:1)
                   END-PERFORM
                   DISPLAY ORD-TYPE " " SIZE-OF-RECORD " "
                       FUNCTION TRIM(LINE-OUT)
               END-IF
           END-PERFORM
           DISPLAY "status " FS
           CLOSE ORDERS-FILE
           STOP RUN.
