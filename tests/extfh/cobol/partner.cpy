      *> partner.cpy - an invoice line as a partner sends it: a number,
      *> an amount, a name, a right-justified code, the amount as printed,
      *> and a body that is a note, or taxes when INV-KIND is "T" (whose
      *> note is named like the other one's), then two quantities.
       01  INV-REC.
           05  INV-NO              PIC 9(6).
           05  INV-AMOUNT          PIC S9(5)V99 COMP-3.
           05  INV-NAME            PIC X(12).
           05  INV-CODE            PIC X(6) JUSTIFIED RIGHT.
           05  INV-PRINTED         PIC ZZ,ZZ9.99-.
           05  INV-KIND            PIC X.
           05  INV-BODY.
               10  INV-NOTE        PIC X(8).
      *> WHEN INV-KIND = "T"
           05  INV-TAXES REDEFINES INV-BODY.
               10  INV-RATE        PIC 9V99.
               10  INV-NOTE        PIC X(4).
               10  FILLER          PIC X.
           05  INV-LINE            OCCURS 2.
               10  INV-QTY         PIC 9(3).
