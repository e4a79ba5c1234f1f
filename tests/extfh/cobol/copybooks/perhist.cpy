      *----------------------------------------------------------------*
      * PERHIST.CPY  PERSONNEL ACTION HISTORY                          *
      * THE DATE AND APPROVAL AREAS ARE DECLARED AS FILLER AND GIVEN   *
      * THEIR FIELDS BY THE REDEFINITION THAT FOLLOWS EACH.            *
      *----------------------------------------------------------------*
       01  PER-HISTORY-REC.
           05  PER-EMP-NO               PIC 9(7).
           05  PER-ACTION-CODE          PIC XX.
               88  PER-HIRE             VALUE "HI".
               88  PER-PROMOTION        VALUE "PR".
               88  PER-TERMINATION      VALUE "TE".
           05  PER-EFFECTIVE-X.
               10  FILLER               PIC X(4).
               10  FILLER               PIC X(2).
               10  FILLER               PIC X(2).
           05  PER-EFFECTIVE-DATE REDEFINES PER-EFFECTIVE-X.
               10  PER-EFF-YYYY         PIC 9(4).
               10  PER-EFF-MM           PIC 99.
               10  PER-EFF-DD           PIC 99.
           05  PER-OLD-SALARY           PIC S9(7)V99 COMP-3.
           05  PER-NEW-SALARY           PIC S9(7)V99 COMP-3.
           05  PER-APPROVAL-AREA.
               10  FILLER               PIC X(6).
               10  FILLER               PIC X(5).
           05  PER-APPROVAL REDEFINES PER-APPROVAL-AREA.
               10  PER-APPROVER-ID      PIC X(6).
               10  PER-APPROVED-LIMIT   PIC S9(7)V99 COMP-3.
           05  PER-REASON               PIC X(30).
