      *> write-orders [file [count]]: writes `count` orders (default 12)
      *> and a trailer to `file` (default orders.xml). Built with
      *> scripts/cobc-xml, a file named *.xml becomes an XML document laid
      *> out by the copybook orders.cpy; any other name a plain file.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. WRITE-ORDERS.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT ORDERS-FILE ASSIGN TO FILE-NAME
               ORGANIZATION SEQUENTIAL
               FILE STATUS IS FILE-STATUS.
       DATA DIVISION.
       FILE SECTION.
       FD  ORDERS-FILE.
       COPY orders.
       WORKING-STORAGE SECTION.
       01  FILE-NAME               PIC X(200) VALUE "orders.xml".
       01  FILE-STATUS             PIC XX.
       01  ARGUMENT                PIC X(20).
       01  ORDER-COUNT             PIC 9(8) VALUE 12.
       01  ORD-IX                  PIC 9(8).
       01  LN                      PIC 9.
       01  AMOUNT                  PIC S9(9)V99.
       01  GRAND-TOTAL             PIC S9(11)V99 VALUE 0.
       01  CREDIT-TOTAL            PIC S9(11)V99 VALUE 0.
       01  SHOWN-TOTAL             PIC -(11)9.99.
       01  CUST-TEXT               PIC 9(6).
       01  CITIES                  VALUE "Lyon      Osaka     "
                                  &  "Porto     Tromso    ".
           05  CITY-NAME           PIC X(10) OCCURS 4 TIMES.
       PROCEDURE DIVISION.
       MAIN.
           ACCEPT ARGUMENT FROM ARGUMENT-VALUE
           IF ARGUMENT NOT = SPACES
               MOVE ARGUMENT TO FILE-NAME
               MOVE SPACES TO ARGUMENT
               ACCEPT ARGUMENT FROM ARGUMENT-VALUE
               IF ARGUMENT NOT = SPACES
                   MOVE FUNCTION NUMVAL(ARGUMENT) TO ORDER-COUNT
               END-IF
           END-IF
           OPEN OUTPUT ORDERS-FILE
           IF FILE-STATUS NOT = "00"
               DISPLAY "write-orders: cannot open "
                   FUNCTION TRIM(FILE-NAME) ": status " FILE-STATUS
               MOVE 1 TO RETURN-CODE
               STOP RUN
           END-IF
           PERFORM VARYING ORD-IX FROM 1 BY 1
                   UNTIL ORD-IX > ORDER-COUNT
               PERFORM MAKE-ORDER
               WRITE ORDER-REC
               PERFORM CHECK-STATUS
           END-PERFORM
           INITIALIZE TRAILER-REC
           MOVE "T" TO TRL-TYPE
           MOVE ORDER-COUNT TO TRL-ORDER-COUNT
           MOVE GRAND-TOTAL TO TRL-GRAND-TOTAL
           MOVE CREDIT-TOTAL TO TRL-CREDIT-TOTAL
           WRITE TRAILER-REC
           PERFORM CHECK-STATUS
           CLOSE ORDERS-FILE
           PERFORM CHECK-STATUS
           MOVE GRAND-TOTAL TO SHOWN-TOTAL
           DISPLAY "wrote " ORDER-COUNT " orders to "
               FUNCTION TRIM(FILE-NAME) ", total "
               FUNCTION TRIM(SHOWN-TOTAL)
           STOP RUN.

      *> Order n: some lines, every seventh order a credit (returned goods).
       MAKE-ORDER.
           INITIALIZE ORDER-REC
           MOVE "O" TO ORD-TYPE
           COMPUTE ORD-NO = 20240000 + ORD-IX
           MOVE 2024 TO ORD-YEAR
           COMPUTE ORD-MONTH = FUNCTION MOD(ORD-IX, 12) + 1
           COMPUTE ORD-DAY = FUNCTION MOD(ORD-IX * 7, 28) + 1
           COMPUTE CUST-NO = 100 + FUNCTION MOD(ORD-IX * 37, 500)
           MOVE CUST-NO TO CUST-TEXT
           STRING "Customer " CUST-TEXT " & Sons <Ltd>"
               DELIMITED BY SIZE INTO CUST-NAME
           STRING ORD-IX " Harbour Street" DELIMITED BY SIZE
               INTO STREET
           MOVE CITY-NAME(FUNCTION MOD(ORD-IX, 4) + 1) TO CITY
           STRING "PC" CUST-TEXT DELIMITED BY SIZE INTO POSTCODE
           COMPUTE LINE-COUNT = FUNCTION MOD(ORD-IX, 5) + 1
           PERFORM VARYING LN FROM 1 BY 1 UNTIL LN > LINE-COUNT
               STRING "I" ORD-IX(5:4) "-" LN DELIMITED BY SIZE
                   INTO ITEM-NO(LN)
               COMPUTE QUANTITY(LN) =
                   FUNCTION MOD(ORD-IX * LN, 40) + 1
               IF FUNCTION MOD(ORD-IX, 7) = 0
                   COMPUTE QUANTITY(LN) = 0 - QUANTITY(LN)
               END-IF
               COMPUTE UNIT-PRICE(LN) =
                   (FUNCTION MOD(ORD-IX * 13 + LN * 7, 9000) + 100)
                   / 100
               COMPUTE DISCOUNT(LN) = FUNCTION MOD(LN, 3) * 0.05
               COMPUTE AMOUNT ROUNDED = QUANTITY(LN) * UNIT-PRICE(LN)
                   * (1 - DISCOUNT(LN))
               ADD AMOUNT TO ORDER-TOTAL
           END-PERFORM
           ADD ORDER-TOTAL TO GRAND-TOTAL
           IF ORDER-TOTAL < 0
               ADD ORDER-TOTAL TO CREDIT-TOTAL
           END-IF.

       CHECK-STATUS.
           IF FILE-STATUS NOT = "00"
               DISPLAY "write-orders: status " FILE-STATUS " on "
                   FUNCTION TRIM(FILE-NAME)
               MOVE 1 TO RETURN-CODE
               STOP RUN
           END-IF.
