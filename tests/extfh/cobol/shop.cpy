      * SHOP.CPY - CUSTOMER NOTES AS THE BRANCHES HAVE ALWAYS KEPT THEM.
      * NO 01 LEVEL: EACH PROGRAM PUTS THE FIELDS UNDER A RECORD OF ITS
      * OWN. THE BODY IS AN AMOUNT OR A TEXT, BY NOTE-KIND.
           05  NOTE-KEY.
               10  NOTE-BRANCH         PIC X(3).
               10  NOTE-SEQUENCE-NUMB
      -            ER                  PIC 9(5).
           05  NOTE-KIND               PIC X.
               88  NOTE-IS-AMOUNT      VALUE "A".
               88  NOTE-IS-TEXT        VALUE "T".
           05  NOTE-BODY               PIC X(24).
      *> WHEN NOTE-KIND = "A"
           05  NOTE-AMOUNTS REDEFINES NOTE-BODY.
               10  NOTE-NET            PIC S9(7)V99 COMP-3.
               10  NOTE-TAX            PIC S9(5)V99 COMP-3.
               10  NOTE-CURRENCY       PIC X(3).
               10  FILLER              PIC X(12).
      *> WHEN NOTE-KIND = "T"
           05  NOTE-TEXT REDEFINES NOTE-BODY.
               10  NOTE-LINE           PIC X(20).
               10  NOTE-LANGUAGE       PIC X(4).
           05  NOTE-RAW-TOTALS REDEFINES NOTE-BODY.
               10  NOTE-RAW            PIC X(24).
           05  NOTE-SIGNED-BY          PIC X(20).
           05  NOTE-HISTORY            OCCURS 2 TIMES.
               10  NOTE-MARK           PIC X OCCURS 2 TIMES.
