      *> Writes three notes of shop.cpy (an amount, a text, one of
      *> another kind) to shop.xml and reads them back; "notes read" only
      *> reads.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. NOTES.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT NOTES ASSIGN TO "shop.xml"
               ORGANIZATION LINE SEQUENTIAL FILE STATUS FS.
       DATA DIVISION.
       FILE SECTION.
       FD  NOTES.
       01  NOTE-REC.
           COPY shop.
       WORKING-STORAGE SECTION.
       01  FS                  PIC XX.
       01  SHOWN               PIC -(7)9.99.
       01  ARGUMENT            PIC X(10).
       PROCEDURE DIVISION.
           ACCEPT ARGUMENT FROM ARGUMENT-VALUE
           IF ARGUMENT NOT = "read"
               PERFORM WRITE-NOTES
           END-IF
           PERFORM READ-NOTES
           STOP RUN.

       WRITE-NOTES.
           OPEN OUTPUT NOTES
           MOVE "LYO00001" TO NOTE-KEY
           MOVE "A" TO NOTE-KIND
           MOVE SPACES TO NOTE-BODY
           MOVE -1234.5 TO NOTE-NET
           MOVE 246.9 TO NOTE-TAX
           MOVE "EUR" TO NOTE-CURRENCY
           MOVE "M. Durand" TO NOTE-SIGNED-BY
           WRITE NOTE-REC
           MOVE "OSA00002" TO NOTE-KEY
           MOVE "T" TO NOTE-KIND
           MOVE "Call back on Monday" TO NOTE-LINE
           MOVE "en" TO NOTE-LANGUAGE
           MOVE "K. Sato" TO NOTE-SIGNED-BY
           WRITE NOTE-REC
           MOVE "POR00003" TO NOTE-KEY
           MOVE "X" TO NOTE-KIND
           MOVE "unsorted remarks" TO NOTE-BODY
           MOVE SPACES TO NOTE-SIGNED-BY
           MOVE "xyzw" TO NOTE-HISTORY(1) NOTE-HISTORY(2)
           WRITE NOTE-REC
           CLOSE NOTES.

       READ-NOTES.
           OPEN INPUT NOTES
           PERFORM 4 TIMES
               READ NOTES
               IF FS NOT = "00"
                   DISPLAY "read " FS
               ELSE
                   EVALUATE TRUE
                   WHEN NOTE-IS-AMOUNT
                       MOVE NOTE-NET TO SHOWN
                       DISPLAY NOTE-KEY " amount " SHOWN
                           WITH NO ADVANCING
                       MOVE NOTE-TAX TO SHOWN
                       DISPLAY " tax " SHOWN " " NOTE-CURRENCY
                   WHEN NOTE-IS-TEXT
                       DISPLAY NOTE-KEY " text [" NOTE-LINE "] "
                           NOTE-LANGUAGE
                   WHEN OTHER
                       DISPLAY NOTE-KEY " other [" NOTE-BODY "]"
                   END-EVALUATE
                   DISPLAY "  signed by [" NOTE-SIGNED-BY "] marks ["
                       NOTE-HISTORY(1) NOTE-HISTORY(2) "]"
               END-IF
           END-PERFORM
           CLOSE NOTES.
