      *> Called with "W": opens ops.xml for output, writes two records and
      *> returns with the file still open. With "R": reads ops.xml.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. KEEP-SUB.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT KEEP-FILE ASSIGN TO "ops.xml"
               ORGANIZATION SEQUENTIAL FILE STATUS FS.
       DATA DIVISION.
       FILE SECTION.
       FD  KEEP-FILE.
       COPY ops.
       WORKING-STORAGE SECTION.
       01  FS                  PIC XX.
       LINKAGE SECTION.
       01  WHAT                PIC X.
       PROCEDURE DIVISION USING WHAT.
           IF WHAT = "W"
               OPEN OUTPUT KEEP-FILE
               DISPLAY "open output " FS
               MOVE 1 TO OPS-ID
               MOVE 1.5 TO OPS-QTY
               MOVE "one" TO OPS-NAME
               WRITE OPS-REC
               MOVE 2 TO OPS-ID
               MOVE 2.5 TO OPS-QTY
               MOVE "two" TO OPS-NAME
               WRITE OPS-REC
               DISPLAY "written " FS
           ELSE
               OPEN INPUT KEEP-FILE
               DISPLAY "open input " FS
               PERFORM 3 TIMES
                   READ KEEP-FILE
                   DISPLAY "read " FS " " OPS-ID " " OPS-NAME
               END-PERFORM
               CLOSE KEEP-FILE
           END-IF
           GOBACK.
