      *----------------------------------------------------------------*
      *  INVOICE.CPY   BILLING INTERFACE TO ACCOUNTS RECEIVABLE         *
      *  ONE HEADER (H), ITS LINES (L) AND A TRAILER (T) PER INVOICE.   *
      *  THE FIRST BYTE OF EVERY RECORD IS ITS TYPE.                    *
      *----------------------------------------------------------------*
      *> WHEN INV-REC-TYPE = "H"
       01  INVOICE-HEADER.
           05  INV-REC-TYPE             PIC X.
           05  INV-INVOICE-NO           PIC 9(8).
           05  INV-INVOICE-DATE         PIC 9(8).
           05  INV-BILL-TO.
               10  INV-BILL-NAME        PIC X(30).
               10  INV-BILL-ACCT        PIC X(10).
           05  INV-TERMS                PIC X(10).
           05  INV-CURRENCY             PIC X(3).
           05  INV-PRINT-DATE           PIC 99/99/9999.
      *> WHEN ILN-REC-TYPE = "L"
       01  INVOICE-LINE.
           05  ILN-REC-TYPE             PIC X.
           05  ILN-INVOICE-NO           PIC 9(8).
           05  ILN-LINE-NO              PIC 9(3).
           05  ILN-SKU                  PIC X(12).
           05  ILN-QTY-SHIPPED          PIC S9(5)V99   COMP-3.
           05  ILN-UNIT-PRICE           PIC 9(7)V9(4)  COMP-3.
           05  ILN-EXTENDED             PIC S9(9)V99   COMP-3.
           05  ILN-TAX-CODE             PIC X(2).
           05  ILN-PRINT-AMT            PIC ZZZ,ZZ9.99-.
      *> WHEN ITR-REC-TYPE = "T"
       01  INVOICE-TRAILER.
           05  ITR-REC-TYPE             PIC X.
           05  ITR-INVOICE-NO           PIC 9(8).
           05  ITR-LINE-COUNT           PIC 9(3)       COMP.
           05  ITR-SUBTOTAL             PIC S9(9)V99   COMP-3.
           05  ITR-TAX-TOTAL            PIC S9(7)V99   COMP-3.
           05  ITR-INVOICE-TOTAL        PIC S9(9)V99   COMP-3.
           05  ITR-TOTAL-PRINT          PIC $$$,$$$,$$9.99CR.
