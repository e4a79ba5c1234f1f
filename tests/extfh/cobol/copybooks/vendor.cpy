      * VENDOR.CPY - ACCOUNTS PAYABLE VENDOR MASTER FIELDS.
      * NO 01 LEVEL: COPY UNDER THE CALLING PROGRAM'S OWN RECORD NAME,
      * E.G.  01  AP-VENDOR-REC.  COPY VENDOR.
           05  VND-VENDOR-ID            PIC X(8).
           05  VND-NAME                 PIC X(35).
           05  VND-TAX-ID               PIC 9(9).
           05  VND-TERMS.
               10  VND-TERMS-CODE       PIC X(3).
               10  VND-DISC-PCT         PIC V999.
               10  VND-DISC-DAYS        PIC 99.
               10  VND-NET-DAYS         PIC 999.
           05  VND-1099-FLAG            PIC X.
               88  VND-1099-REPORTABLE  VALUE "Y".
               88  VND-1099-EXEMPT      VALUE "N" " ".
           05  VND-YTD-PAID             PIC S9(9)V99 COMP-3.
           05  VND-REMIT-TO.
               10  VND-REMIT-LINE       PIC X(30) OCCURS 3 TIMES.
               10  VND-REMIT-POSTAL     PIC X(10).
           05  VND-BANK-ROUTING         PIC 9(9) COMP.
           05  VND-HOLD-CODE            PIC X.
