      *================================================================
      * GLJRNL.CPY - GENERAL LEDGER JOURNAL INTERFACE FILE
      *   H  BATCH HEADER, ONE PER BATCH
      *   E  JOURNAL ENTRY WITH 1 TO 12 DISTRIBUTION LINES; THE RECORD
      *      ENDS AFTER THE LAST LINE USED (GL-LINE-COUNT)
      *   T  BATCH TRAILER WITH CONTROL TOTALS
      *================================================================
      *> WHEN GL-REC-TYPE = "H"
       01  GL-BATCH-HEADER.
           05  GL-REC-TYPE              PIC X.
           05  GL-BATCH-ID              PIC 9(6).
           05  GL-BATCH-DATE            PIC 9(8).
           05  GL-SOURCE-SYSTEM         PIC X(8).
           05  GL-PREPARER              PIC X(20).
      *> WHEN GL-ENT-TYPE = "E"
       01  GL-ENTRY-REC.
           05  GL-ENT-TYPE              PIC X.
           05  GL-JE-NUMBER             PIC 9(8).
           05  GL-JE-DESC               PIC X(30).
           05  GL-JE-PERIOD.
               10  GL-FISCAL-YEAR       PIC 9(4).
               10  GL-FISCAL-PERIOD     PIC 99.
           05  GL-REVERSE-FLAG          PIC X.
               88  GL-AUTO-REVERSE      VALUE "Y".
           05  GL-LINE-COUNT            PIC 9(2) COMP.
           05  GL-JE-LINES.
               10  GL-JE-LINE           OCCURS 1 TO 12 TIMES
                                        DEPENDING ON GL-LINE-COUNT.
                   15  GL-ACCOUNT.
                       20  GL-COMPANY       PIC X(2).
                       20  GL-COST-CENTER   PIC X(4).
                       20  GL-NATURAL-ACCT  PIC 9(6).
                   15  GL-DR-CR             PIC X.
                   15  GL-LINE-AMOUNT       PIC S9(11)V99 COMP-3.
                   15  GL-LINE-MEMO         PIC X(20).
      *> WHEN GL-TRL-TYPE = "T"
       01  GL-BATCH-TRAILER.
           05  GL-TRL-TYPE              PIC X.
           05  GL-TRL-ENTRY-COUNT       PIC 9(7) COMP-3.
           05  GL-TRL-DEBIT-TOTAL       PIC S9(13)V99 COMP-3.
           05  GL-TRL-CREDIT-TOTAL      PIC S9(13)V99 COMP-3.
