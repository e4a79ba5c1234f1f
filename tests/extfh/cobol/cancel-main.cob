      *> Calls KEEP-SUB to write, cancels it (its file still open), and
      *> calls it again to read what it wrote.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. CANCEL-MAIN.
       PROCEDURE DIVISION.
           CALL "KEEP-SUB" USING "W"
           CANCEL "KEEP-SUB"
           CALL "KEEP-SUB" USING "R"
           STOP RUN.
