      *> orders.cpy - the records of an orders file: one ORDER-REC per
      *> order (up to five order lines), then one TRAILER-REC with the
      *> count and the grand total. The first byte tells them apart.
      *> As the record layout of orders.xml it gives the document its
      *> elements: <orders>, then <order_rec> and <trailer_rec>.
      *> WHEN ORD-TYPE = "O"
       01  ORDER-REC.
           05  ORD-TYPE                PIC X.
           05  ORD-NO                  PIC 9(8).
           05  ORD-DATE.
               10  ORD-YEAR            PIC 9(4).
               10  ORD-MONTH           PIC 99.
               10  ORD-DAY             PIC 99.
           05  CUSTOMER.
               10  CUST-NO             PIC 9(6) COMP.
               10  CUST-NAME           PIC X(30).
               10  CUST-ADDRESS.
                   15  STREET          PIC X(30).
                   15  CITY            PIC X(20).
                   15  POSTCODE        PIC X(8).
           05  LINE-COUNT              PIC S9(4) COMP.
           05  ORDER-LINE OCCURS 5 TIMES.
               10  ITEM-NO             PIC X(10).
               10  QUANTITY            PIC S9(5) COMP-3.
               10  UNIT-PRICE          PIC S9(7)V99 COMP-3.
               10  DISCOUNT            PIC SV99.
           05  ORDER-TOTAL             PIC S9(9)V99 COMP-3.
      *> WHEN TRL-TYPE = "T"
       01  TRAILER-REC.
           05  TRL-TYPE                PIC X.
           05  TRL-ORDER-COUNT         PIC 9(8) COMP.
           05  TRL-GRAND-TOTAL         PIC S9(11)V99 COMP-3.
           05  TRL-CREDIT-TOTAL        PIC S9(11)V99
                                       SIGN LEADING SEPARATE.
