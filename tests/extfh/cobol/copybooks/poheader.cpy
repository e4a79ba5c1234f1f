      *---------------------------------------------------------------
      * POHEADER.CPY  PURCHASE ORDER EXTRACT FOR THE VENDOR PORTAL
      * THREE RECORDS OF DIFFERENT LENGTHS, NO TYPE CODE: HEADER,
      * LINE, NOTE. THE FILLERS ARE RESERVED FOR THE PORTAL.
      *---------------------------------------------------------------
       01  PO-HEADER-REC.
	   05  PO-NUMBER		PIC X(10).
	   05  PO-VENDOR		PIC X(8).
	   05  PO-ORDER-DATE		PIC 9(8).
	   05  FILLER			PIC X(4).
	   05  PO-BUYER.
	       10  PO-BUYER-CODE	PIC X(3).
	       10  FILLER		PIC X.
	       10  PO-BUYER-NAME	PIC X(20).
       01  PO-LINE-REC.
	   05  POL-NUMBER		PIC X(10).
	   05  POL-LINE-NO		PIC 9(3).
	   05  POL-ITEM			PIC X(15).
	   05  POL-QTY			PIC S9(7)V99 COMP-3.
	   05  POL-PRICE		PIC S9(7)V9(4) COMP-3.
	   05  POL-DUE-DATE		PIC 9(8).
	   05  FILLER.
	       10  FILLER		PIC X(5).
	       10  FILLER		PIC X(5).
	   05  POL-UOM			PIC X(2).
       01  PO-NOTE-REC.
	   05  PON-NUMBER		PIC X(10).
	   05  PON-TEXT			PIC X(60).
