      *> Reads a partner's document (the file named on the command line)
      *> and prints each READ's status and what the record holds, one
      *> line a record: number, amount, name, code, printed amount, kind,
      *> the body's eight bytes, the two quantities; then CLOSE's status.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. PARTNER.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT INV-FILE ASSIGN TO FILE-NAME
               ORGANIZATION SEQUENTIAL FILE STATUS IS FS.
       DATA DIVISION.
       FILE SECTION.
       FD  INV-FILE.
       COPY partner.
       WORKING-STORAGE SECTION.
       01  FILE-NAME               PIC X(200).
       01  FS                      PIC XX.
       01  AMOUNT-SHOWN            PIC -(6)9.99.
       PROCEDURE DIVISION.
           ACCEPT FILE-NAME FROM ARGUMENT-VALUE
           OPEN INPUT INV-FILE
           DISPLAY "open " FS
           PERFORM UNTIL FS NOT = "00" AND FS NOT = "30"
               READ INV-FILE
               IF FS = "00" OR FS = "30"
                   MOVE INV-AMOUNT TO AMOUNT-SHOWN
                   DISPLAY FS " " INV-NO " " AMOUNT-SHOWN " [" INV-NAME
                       "] [" INV-CODE "] [" INV-PRINTED "] " INV-KIND
                       " [" INV-BODY "] " INV-QTY(1) " " INV-QTY(2)
               ELSE
                   DISPLAY "read " FS
               END-IF
           END-PERFORM
           CLOSE INV-FILE
           DISPLAY "close " FS
           STOP RUN.
