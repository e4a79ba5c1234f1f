      *----------------------------------------------------------------
      *  CLAIMS.CPY  -  PROPERTY & CASUALTY CLAIM, FIRST NOTICE OF LOSS
      *  CLM-DIAGNOSES HOLDS CLM-DIAG-COUNT DAMAGE CODES (NONE TO 9);
      *  THE RECORD IS AS LONG AS THE CODES IT CARRIES.
      *  CLM-RISK-SCORE AND CLM-RESERVE-FACTOR COME FROM THE RATING
      *  ENGINE AS FLOATING POINT.
      *----------------------------------------------------------------
       01  CLM-CLAIM-REC.
           05  CLM-CLAIM-NO             PIC X(12).
           05  CLM-POLICY-NO            PIC X(10).
           05  CLM-LOSS-DATE            PIC 9(8).
           05  CLM-LOSS-DATE-PARTS REDEFINES CLM-LOSS-DATE.
               10  CLM-LOSS-CCYY        PIC 9(4).
               10  CLM-LOSS-MM          PIC 99.
               10  CLM-LOSS-DD          PIC 99.
           05  CLM-LOSS-CAUSE           PIC X(4).
               88  CLM-CAUSE-FIRE       VALUE "FIRE".
               88  CLM-CAUSE-WIND       VALUE "WIND" "HAIL".
           05  CLM-RISK-SCORE           COMP-1.
           05  CLM-RESERVE-FACTOR       USAGE IS COMP-2.
           05  CLM-AMOUNTS.
               10  CLM-RESERVE-AMT      PIC S9(9)V99 COMP-3.
               10  CLM-PAID-TO-DATE     PIC S9(9)V99 COMP-3.
               10  CLM-DEDUCTIBLE       PIC 9(5)V99  COMP-3.
           05  CLM-AMOUNTS-RAW REDEFINES CLM-AMOUNTS
                                        PIC X(16).
           05  CLM-ADJUSTER.
               10  CLM-ADJ-ID           PIC X(6).
               10  CLM-ADJ-NAME         PIC X(24).
           05  CLM-DIAG-COUNT           PIC 99.
           05  CLM-DIAGNOSES.
               10  CLM-DIAG             OCCURS 0 TO 9 TIMES
                                        DEPENDING ON CLM-DIAG-COUNT.
                   15  CLM-DIAG-CODE    PIC X(7).
                   15  CLM-DIAG-WEIGHT  COMP-2.
                   15  CLM-DIAG-BILLED  PIC S9(7)V99.
