      *> Runs the file statements its command line names, one word each,
      *> and prints each statement's file status:
      *>   oi oo oio oe   OPEN INPUT, OUTPUT, I-O, EXTEND
      *>   r  w  c        READ (and the record), WRITE (record n), CLOSE
      *>   ra             READ to the end (prints the count and the status)
      *>   wn             WRITE 2000 records (prints the first status not 00)
      *>   bad            WRITE a record whose name holds a control byte
      *>   opt  xml       the next words are on the OPTIONAL file, the plain one
      *>   as:NAME        the plain file's ASSIGN name (by default XMLFILE)
      *>   stop  goback  crash  sleep
      *>                  STOP RUN or GOBACK with files open, a runtime
      *>                  error, a wait of 30 seconds (for a signal)
       IDENTIFICATION DIVISION.
       PROGRAM-ID. FILEOPS.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT XML-FILE ASSIGN TO XML-NAME
               ORGANIZATION SEQUENTIAL FILE STATUS FS.
           SELECT OPTIONAL OPT-FILE ASSIGN TO OPTFILE
               ORGANIZATION SEQUENTIAL FILE STATUS FS.
       DATA DIVISION.
       FILE SECTION.
       FD  XML-FILE.
       COPY ops.
       FD  OPT-FILE.
       01  OPT-REC             PIC X(23).
       WORKING-STORAGE SECTION.
       01  FS                  PIC XX.
       01  CMD                 PIC X(400).
       01  XML-NAME            PIC X(200) VALUE "XMLFILE".
       01  WORD                PIC X(200).
       01  PTR                 PIC 999 VALUE 1.
       01  N                   PIC 9(6) VALUE 0.
       01  K                   PIC 9(6).
       01  ON-OPT              PIC X VALUE "N".
       PROCEDURE DIVISION.
           ACCEPT CMD FROM COMMAND-LINE
           PERFORM UNTIL PTR > 400
               MOVE SPACES TO WORD
               UNSTRING CMD DELIMITED BY ALL SPACES INTO WORD
                   WITH POINTER PTR
               IF WORD = SPACES
                   EXIT PERFORM
               END-IF
               PERFORM ONE-WORD
           END-PERFORM
           STOP RUN.

       ONE-WORD.
           MOVE "--" TO FS
           EVALUATE WORD
           WHEN "opt" MOVE "Y" TO ON-OPT
           WHEN "xml" MOVE "N" TO ON-OPT
           WHEN "as:" THRU "as:~"
               MOVE WORD(4:) TO XML-NAME
           WHEN "oi"
               IF ON-OPT = "Y" OPEN INPUT OPT-FILE
               ELSE OPEN INPUT XML-FILE END-IF
           WHEN "oo"
               IF ON-OPT = "Y" OPEN OUTPUT OPT-FILE
               ELSE OPEN OUTPUT XML-FILE END-IF
           WHEN "oio"
               IF ON-OPT = "Y" OPEN I-O OPT-FILE
               ELSE OPEN I-O XML-FILE END-IF
           WHEN "oe"
               IF ON-OPT = "Y" OPEN EXTEND OPT-FILE
               ELSE OPEN EXTEND XML-FILE END-IF
           WHEN "c"
               IF ON-OPT = "Y" CLOSE OPT-FILE
               ELSE CLOSE XML-FILE END-IF
           WHEN "r"
               IF ON-OPT = "Y" READ OPT-FILE
               ELSE READ XML-FILE END-IF
           WHEN "w"
               PERFORM MAKE-RECORD
               IF ON-OPT = "Y" WRITE OPT-REC FROM OPS-REC
               ELSE WRITE OPS-REC END-IF
           WHEN "bad"
               PERFORM MAKE-RECORD
               MOVE X"01" TO OPS-NAME(3:1)
               WRITE OPS-REC
           WHEN "wn"
               PERFORM VARYING K FROM 1 BY 1 UNTIL K > 2000
                   PERFORM MAKE-RECORD
                   WRITE OPS-REC
                   IF FS NOT = "00"
                       DISPLAY "wn " K " " FS
                       EXIT PERFORM
                   END-IF
               END-PERFORM
           WHEN "ra"
               MOVE 0 TO K
               PERFORM UNTIL FS NOT = "00" AND FS NOT = "--"
                   READ XML-FILE
                   IF FS = "00"
                       ADD 1 TO K
                   END-IF
               END-PERFORM
               DISPLAY "ra " K " " FS
               MOVE "--" TO FS
           WHEN "stop" STOP RUN
           WHEN "goback" GOBACK
           WHEN "crash" CALL "NO-SUCH-PROGRAM"
           WHEN "sleep"
               DISPLAY "sleeping"
               CALL "C$SLEEP" USING 30
           END-EVALUATE
           IF FS NOT = "--"
               IF WORD = "r" AND FS = "00"
                   DISPLAY "r 00 " OPS-ID " " OPS-QTY " [" OPS-NAME "]"
               ELSE
                   DISPLAY FUNCTION TRIM(WORD) " " FS
               END-IF
           END-IF.

       MAKE-RECORD.
           ADD 1 TO N
           MOVE N TO OPS-ID
           COMPUTE OPS-QTY = N * 1.25
           MOVE SPACES TO OPS-NAME
           STRING "item " N DELIMITED BY SIZE INTO OPS-NAME.
