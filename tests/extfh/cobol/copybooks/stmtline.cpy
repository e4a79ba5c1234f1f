      *================================================================*
      * STMTLINE.CPY - CUSTOMER STATEMENT DETAIL LINE, AS PRINTED.     *
      * KEPT ON FILE SO A STATEMENT CAN BE REPRINTED WITHOUT THE       *
      * ORIGINAL RUN. EVERY AMOUNT IS ALREADY EDITED FOR THE FORM.     *
      *================================================================*
       01  STMT-PRINT-LINE.
           05  SL-CARRIAGE-CTL          PIC X.
           05  SL-ACCOUNT-NO            PIC X(12) JUSTIFIED RIGHT.
           05  FILLER                   PIC X(2).
           05  SL-STMT-DATE             PIC 99/99/99.
           05  FILLER                   PIC X.
           05  SL-DESCRIPTION           PIC X(25).
           05  SL-QUANTITY              PIC -ZZZ9.
           05  SL-UNIT-PRICE            PIC ZZ,ZZ9.99-.
           05  SL-AMOUNT                PIC $$$,$$9.99CR.
           05  SL-RATE                  PIC 9.99CR.
           05  SL-CHECK-AMOUNT          PIC ***,**9.99.
           05  SL-BALANCE               PIC Z(3),Z(3),ZZ9.99DB.
           05  SL-CHANGE-PCT            PIC +ZZ9.9.
           05  SL-PAGE-NO               PIC ZZZ9 BLANK WHEN ZERO.
           05  SL-FOOTNOTE-REF          PIC X(8) JUST RIGHT.
