      *----------------------------------------------------------------*
      *  BANKTXN  -  DEMAND DEPOSIT POSTING, ONE RECORD PER ITEM        *
      *  THE BODY DEPENDS ON BT-TXN-TYPE:  D DEPOSIT   W WITHDRAWAL     *
      *  X TRANSFER.  ANY OTHER TYPE CARRIES A FREE-FORM MEMO.          *
      *  BT-MAC-KEY AND BT-XFER-TOKEN ARE RAW BYTES FROM THE HSM.       *
      *----------------------------------------------------------------*
       01  BANK-TXN-REC.
           05  BT-ACCT-NO               PIC 9(12).
           05  BT-TXN-TYPE              PIC X.
               88  BT-DEPOSIT           VALUE "D".
               88  BT-WITHDRAWAL        VALUE "W".
               88  BT-TRANSFER          VALUE "X".
           05  BT-POST-DATE             PIC 9(8).
           05  BT-AMOUNT                PIC S9(9)V99.
           05  BT-RUNNING-BAL           PIC S9(11)V99 SIGN LEADING.
           05  BT-ITEM-COUNT            PIC S9(3) SIGN IS TRAILING.
           05  BT-TELLER-ID             PIC X(6).
      *> BINARY
           05  BT-MAC-KEY               PIC X(8).
           05  BT-BODY                  PIC X(40).
      *> WHEN BT-TXN-TYPE = "D"
           05  BT-DEPOSIT-BODY REDEFINES BT-BODY.
               10  BT-DEP-CHANNEL       PIC X(3).
               10  BT-DEP-CHECK-CNT     PIC 9(3).
               10  BT-DEP-CASH-AMT      PIC S9(7)V99.
               10  BT-DEP-HOLD-DAYS     PIC S9(3) SIGN LEADING.
               10  FILLER               PIC X(22).
      *> WHEN BT-TXN-TYPE = "W"
           05  BT-WITHDRAW-BODY REDEFINES BT-BODY.
               10  BT-WD-ATM-ID         PIC X(8).
               10  BT-WD-FEE            PIC S9(3)V99 COMP-3.
               10  BT-WD-SURCHARGE      PIC S99V99.
      *> WHEN BT-TXN-TYPE = "X"
           05  BT-TRANSFER-BODY REDEFINES BT-BODY.
               10  BT-XFER-TO-ACCT      PIC 9(12).
               10  BT-XFER-REF          PIC X(16).
      *> BINARY
               10  BT-XFER-TOKEN        PIC X(4).
               10  BT-XFER-FX-RATE      PIC S9(3)V9(5) COMP-3.
           05  BT-BRANCH-NO             PIC 9(4).
