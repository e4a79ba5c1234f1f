      *> Writes three records of bins.cpy to bins.xml (an XML file), to
      *> bins.dat (a plain binary file) and as text lines to bins.txt
      *> (LINE SEQUENTIAL), then reads bins.xml back and shows the values
      *> and the record's length.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. BINS.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT XML-FILE ASSIGN TO "bins.xml"
               ORGANIZATION SEQUENTIAL FILE STATUS FS.
           SELECT BIN-FILE ASSIGN TO "bins.dat"
               ORGANIZATION SEQUENTIAL FILE STATUS FS.
           SELECT TXT-FILE ASSIGN TO "bins.txt"
               ORGANIZATION LINE SEQUENTIAL FILE STATUS FS.
       DATA DIVISION.
       FILE SECTION.
       FD  XML-FILE.
       COPY bins.
       FD  BIN-FILE.
       01  BIN-REC             PIC X(16).
       FD  TXT-FILE.
       01  TXT-REC             PIC X(60).
       WORKING-STORAGE SECTION.
       01  FS                  PIC XX.
       01  K                   PIC 9.
       01  VALUES-TABLE        VALUE "-12-123456-0300first   "
                              & "+99+999999+9999second  "
                              & "+00-000001-9999third   ".
           05  VALUE-ROW       OCCURS 3 TIMES.
               10  V-SMALL     PIC S99 SIGN LEADING SEPARATE.
               10  V-WIDE      PIC S9(6) SIGN LEADING SEPARATE.
               10  V-NATIVE    PIC S9(4) SIGN LEADING SEPARATE.
               10  V-NAME      PIC X(8).
       01  SHOWN               PIC -(6)9.
       PROCEDURE DIVISION.
           OPEN OUTPUT XML-FILE BIN-FILE TXT-FILE
           PERFORM VARYING K FROM 1 BY 1 UNTIL K > 3
               MOVE V-SMALL(K) TO BIN-SMALL
               MOVE V-WIDE(K) TO BIN-WIDE
               MOVE V-NATIVE(K) TO BIN-NATIVE
               MOVE V-NAME(K) TO BIN-NAME
               WRITE BINS-REC
               WRITE BIN-REC FROM BINS-REC
               MOVE SPACES TO TXT-REC
               STRING "record " K ": " V-NAME(K) " length "
                   LENGTH OF BINS-REC DELIMITED BY SIZE INTO TXT-REC
               WRITE TXT-REC
           END-PERFORM
           CLOSE XML-FILE BIN-FILE TXT-FILE
           OPEN INPUT XML-FILE
           PERFORM 3 TIMES
               READ XML-FILE
               DISPLAY "read " FS " " BIN-NAME WITH NO ADVANCING
               MOVE BIN-SMALL TO SHOWN
               DISPLAY SHOWN WITH NO ADVANCING
               MOVE BIN-WIDE TO SHOWN
               DISPLAY SHOWN WITH NO ADVANCING
               MOVE BIN-NATIVE TO SHOWN
               DISPLAY SHOWN
           END-PERFORM
           CLOSE XML-FILE
           STOP RUN.
