      *****************************************************************
      *  INVENTORY.CPY   ITEM BALANCE RECORD, ONE PER STOCKED ITEM
      *  THREE WAREHOUSES, FOUR PICK LOCATIONS EACH, TWO LOTS PER
      *  LOCATION. LABEL FIELDS ARE RIGHT-JUSTIFIED FOR THE SHELF
      *  PRINTER.
      *****************************************************************
       01  INV-ITEM-REC.
           05  INV-ITEM-NO              PIC X(10).
           05  INV-DESCRIPTION          PIC X(30).
           05  INV-UNIT-OF-MEASURE      PIC X(4)  JUSTIFIED RIGHT.
           05  INV-BIN-LABEL            PIC X(12) JUST RIGHT.
           05  INV-WAREHOUSE            OCCURS 3 TIMES.
               10  INV-WHSE-CODE        PIC X(3).
               10  INV-ON-HAND          PIC S9(7) COMP-3.
               10  INV-LOCATION         OCCURS 4 TIMES.
                   15  INV-AISLE        PIC X(2).
                   15  INV-SHELF        PIC 99.
                   15  INV-QTY-AT-LOC   PIC 9(5) COMP.
                   15  INV-LOT          OCCURS 2 TIMES.
                       20  INV-LOT-NO   PIC X(6).
                       20  INV-LOT-QTY  PIC S9(5) COMP-3.
               10  INV-MONTHLY-USAGE    PIC S9(5) COMP-3 OCCURS 12.
           05  INV-REORDER-POINT        PIC 9(6).
           05  INV-COST-TABLE.
               10  INV-COST-TIER        OCCURS 2 TIMES.
                   15  INV-TIER-QTY     PIC 9(5).
                   15  INV-TIER-PRICE   PIC 9(5)V9(4) COMP-3
                                        OCCURS 3 TIMES.
