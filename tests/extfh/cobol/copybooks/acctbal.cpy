       >>SOURCE FORMAT IS FREE
*> =====================================================================
*> ACCTBAL.CPY  Nightly account balance snapshot (free form).
*>   Balances come straight from the core system and are kept in the
*>   binary forms it hands over.
*> =====================================================================
01  ACB-BALANCE-REC.
    05  ACB-ACCT-ID            PIC 9(16)       COMP-5.
    05  ACB-PRODUCT            PIC X(4).
        88  ACB-CHECKING       VALUE "CHK ".
        88  ACB-SAVINGS        VALUE "SAV " "MMA ".
    05  ACB-LEDGER-BAL         PIC S9(15)V99   COMP-3.
    05  ACB-AVAILABLE-BAL      PIC S9(16)V99   COMP.
    05  ACB-HOLD-AMT           PIC 9(13)V99    COMP-5.
    05  ACB-ACCRUED-INT        PIC S9(5)V9(6)  BINARY.
    05  ACB-DAYS-OVERDRAWN     PIC S9(3)       COMP-5.
    05  ACB-OD-LIMIT           PIC 9(7)        COMP-5.
    05  ACB-RATE-TIERS.
	10  ACB-TIER OCCURS 4 TIMES.
	    15  ACB-TIER-FLOOR	PIC 9(9)	COMP-5.
	    15  ACB-TIER-RATE	PIC SV9(5)	COMP-3.
	    15  ACB-TIER-CODE	PIC X(2).
    05  ACB-LAST-TXN-TS.
        10  ACB-LAST-TXN-DATE  PIC 9(8).
        10  ACB-LAST-TXN-TIME  PIC 9(6).          *> hhmmss
    05  ACB-STATUS-FLAGS       PIC X(6).
