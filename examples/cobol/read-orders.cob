      *> read-orders [file]: reads the orders file that write-orders wrote
      *> (default orders.xml), prints each order and the totals, and checks
      *> them against the trailer. Ends with RETURN-CODE 1 when they differ.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. READ-ORDERS.
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
       01  ARGUMENT                PIC X(200).
       01  ORDERS-READ             PIC 9(8) VALUE 0.
       01  LINES-READ              PIC 9(8) VALUE 0.
       01  LN                      PIC 9.
       01  AMOUNT                  PIC S9(9)V99.
       01  RECOMPUTED              PIC S9(9)V99.
       01  GRAND-TOTAL             PIC S9(11)V99 VALUE 0.
       01  CREDIT-TOTAL            PIC S9(11)V99 VALUE 0.
       01  QUANTITY-TOTAL          PIC S9(9) VALUE 0.
       01  TRAILER-SEEN            PIC X VALUE "N".
       01  SHOWN-AMOUNT            PIC -(9)9.99.
       01  SHOWN-TOTAL             PIC -(11)9.99.
       01  SHOWN-COUNT             PIC Z(7)9.
       01  SHOWN-QUANTITY          PIC -(8)9.
       PROCEDURE DIVISION.
       MAIN.
           ACCEPT ARGUMENT FROM ARGUMENT-VALUE
           IF ARGUMENT NOT = SPACES
               MOVE ARGUMENT TO FILE-NAME
           END-IF
           OPEN INPUT ORDERS-FILE
           IF FILE-STATUS NOT = "00"
               DISPLAY "read-orders: cannot open "
                   FUNCTION TRIM(FILE-NAME) ": status " FILE-STATUS
               MOVE 1 TO RETURN-CODE
               STOP RUN
           END-IF
           PERFORM UNTIL FILE-STATUS NOT = "00"
               READ ORDERS-FILE
               EVALUATE TRUE
               WHEN FILE-STATUS NOT = "00"
                   CONTINUE
               WHEN ORD-TYPE = "O"
                   PERFORM ONE-ORDER
               WHEN TRL-TYPE = "T"
                   PERFORM THE-TRAILER
               WHEN OTHER
                   DISPLAY "read-orders: a record of type " ORD-TYPE
               END-EVALUATE
           END-PERFORM
           IF FILE-STATUS NOT = "10"
               DISPLAY "read-orders: status " FILE-STATUS " after "
                   ORDERS-READ " orders"
               MOVE 1 TO RETURN-CODE
           END-IF
           CLOSE ORDERS-FILE
           MOVE ORDERS-READ TO SHOWN-COUNT
           DISPLAY "orders:   " SHOWN-COUNT
           MOVE LINES-READ TO SHOWN-COUNT
           DISPLAY "lines:    " SHOWN-COUNT
           MOVE QUANTITY-TOTAL TO SHOWN-QUANTITY
           DISPLAY "quantity: " SHOWN-QUANTITY
           MOVE GRAND-TOTAL TO SHOWN-TOTAL
           DISPLAY "total:    " SHOWN-TOTAL
           MOVE CREDIT-TOTAL TO SHOWN-TOTAL
           DISPLAY "credits:  " SHOWN-TOTAL
           IF TRAILER-SEEN = "N"
               DISPLAY "read-orders: no trailer"
               MOVE 1 TO RETURN-CODE
           END-IF
           STOP RUN.

       ONE-ORDER.
           ADD 1 TO ORDERS-READ
           ADD LINE-COUNT TO LINES-READ
           MOVE 0 TO RECOMPUTED
           PERFORM VARYING LN FROM 1 BY 1 UNTIL LN > LINE-COUNT
               ADD QUANTITY(LN) TO QUANTITY-TOTAL
               COMPUTE AMOUNT ROUNDED = QUANTITY(LN) * UNIT-PRICE(LN)
                   * (1 - DISCOUNT(LN))
               ADD AMOUNT TO RECOMPUTED
           END-PERFORM
           ADD ORDER-TOTAL TO GRAND-TOTAL
           IF ORDER-TOTAL < 0
               ADD ORDER-TOTAL TO CREDIT-TOTAL
           END-IF
           MOVE ORDER-TOTAL TO SHOWN-AMOUNT
           DISPLAY "order " ORD-NO " " ORD-YEAR "-" ORD-MONTH "-"
               ORD-DAY " customer " CUST-NO " " FUNCTION TRIM(CITY)
               " lines " LINE-COUNT " total " SHOWN-AMOUNT
           IF RECOMPUTED NOT = ORDER-TOTAL
               DISPLAY "read-orders: order " ORD-NO
                   " lines do not add up to its total"
               MOVE 1 TO RETURN-CODE
           END-IF.

       THE-TRAILER.
           MOVE "Y" TO TRAILER-SEEN
           IF TRL-ORDER-COUNT NOT = ORDERS-READ
                   OR TRL-GRAND-TOTAL NOT = GRAND-TOTAL
                   OR TRL-CREDIT-TOTAL NOT = CREDIT-TOTAL
               DISPLAY "read-orders: the trailer does not match"
               MOVE 1 TO RETURN-CODE
           ELSE
               DISPLAY "trailer:  matches"
           END-IF.
