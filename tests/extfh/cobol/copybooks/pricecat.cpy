      *----------------------------------------------------------------
      * PRICECAT.CPY - PRICE CATALOG PAGE: FIVE ITEMS, EACH WITH UP TO
      * THREE QUANTITY BREAKS. PRC-BREAKS-IMAGE LETS THE LOADER MOVE A
      * WHOLE BREAK TABLE AT ONCE.
      *----------------------------------------------------------------
       01  PRC-CATALOG-PAGE.
           05  PRC-CATALOG-ID           PIC X(6).
           05  PRC-PAGE-NO              PIC 9(4)      COMP.
           05  PRC-EFFECTIVE-DATE       PIC 9(8).
           05  PRC-EFF-DATE-PARTS REDEFINES PRC-EFFECTIVE-DATE.
               10  PRC-EFF-CCYY         PIC 9(4).
               10  PRC-EFF-MMDD         PIC 9(4).
           05  PRC-ITEM                 OCCURS 5 TIMES.
               10  PRC-SKU              PIC X(10).
               10  PRC-PRICE-BREAKS.
                   15  PRC-BREAK        OCCURS 3 TIMES.
                       20  PRC-MIN-QTY      PIC 9(5)     COMP-3.
                       20  PRC-UNIT-PRICE   PIC S9(5)V99 COMP-3.
               10  PRC-BREAKS-IMAGE REDEFINES PRC-PRICE-BREAKS
                                        PIC X(21).
               10  PRC-SIZE-CODE        PIC X(2).
               10  PRC-DISCONTINUED     PIC X.
                   88  PRC-IS-DISCONTINUED  VALUE "Y".
           05  PRC-PAGE-FOOTER          PIC X(40).
