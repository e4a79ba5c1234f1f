      *================================================================*
      * PAYROLL.CPY                                                    *
      * EMPLOYEE PAY RECORD, WRITTEN BY PR310 FOR EACH CHECK ISSUED.   *
      * BINARY COUNTERS ARE KEPT AS THE OLD PAYROLL MODULE LEFT THEM:  *
      * COMP FOR THE FILE FIELDS, COMP-5 WHERE THE C TAX LIBRARY       *
      * READS THEM IN PLACE.                                           *
      *================================================================*
       01  PAY-CHECK-REC.
           05  PAY-EMP-ID               PIC 9(9)      COMP.
           05  PAY-DEPT-NO              PIC 99        COMP.
           05  PAY-SHIFT-CD             PIC S9        COMP-5.
           05  PAY-GRADE                PIC S99       BINARY.
           05  PAY-STEP                 PIC 9         COMP-5.
           05  PAY-UNION-LOCAL          PIC 9(3)      BINARY.
           05  PAY-VACATION-HRS         PIC 9(4)      COMP-4.
           05  PAY-SICK-HRS             PIC S9(4)     COMP-5.
           05  PAY-HOURS-WORKED         PIC S9(3)V99  COMP.
           05  PAY-HOURLY-RATE          PIC 9(3)V9(4) COMP-5.
           05  PAY-CHECK-NO             PIC S9(8)     USAGE BINARY.
           05  PAY-ROUTING-NO           PIC 9(10)     COMP-5.
           05  PAY-YTD-GROSS            PIC S9(9)V99  COMP.
           05  PAY-ACCUM-CENTS          PIC S9(18)    COMP.
           05  PAY-BADGE-SERIAL         PIC 9(18)     COMP-5.
           05  PAY-LIFETIME-HRS         PIC 9(15)V99  COMP.
           05  PAY-ADJUST-UNITS         PIC S9(17)    COMP-5.
           05  PAY-DEDUCTIONS.
               10  PAY-FED-TAX          PIC S9(7)V99
                                        SIGN LEADING SEPARATE.
               10  PAY-STATE-TAX        PIC S9(5)V99
                                        SIGN TRAILING SEPARATE.
               10  PAY-FICA             PIC S9(5)V99 SIGN IS LEADING
                                        SEPARATE CHARACTER.
               10  PAY-401K-PCT         PIC SV999
                                        SIGN TRAILING SEPARATE.
               10  PAY-GARNISHMENT      PIC S9(6)V99  COMP-5.
           05  PAY-NET-PAY              PIC S9(7)V99.
           05  PAY-OT-FACTOR            PIC 9V99.
           05  PAY-PERIOD-END           PIC 9(8).
