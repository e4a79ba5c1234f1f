      *================================================================*
      * ATMJRNL.CPY  ATM ELECTRONIC JOURNAL, ONE RECORD PER SESSION    *
      * PIN BLOCK, ARQC AND TERMINAL KEYS ARE BINARY AS RECEIVED.      *
      *================================================================*
       01  ATM-JOURNAL-REC.
           05  ATM-TERMINAL-ID          PIC X(8).
           05  ATM-SEQUENCE-NO          PIC 9(6).
           05  ATM-CARD-TYPE            PIC A(4).
           05  ATM-HOLDER-NAME          PIC A(26).
      *> BINARY
           05  ATM-PIN-BLOCK            PIC X(8).
           05  ATM-CHIP-DATA.
      *> BINARY
               10  ATM-ARQC             PIC X(8).
      *> BINARY
               10  ATM-TVR              PIC X(5).
               10  ATM-ATC              PIC 9(5) COMP.
           05  ATM-DISPENSED            PIC S9(5)V99 SIGN LEADING.
           05  ATM-SURCHARGE            PIC S9V99 SIGN LEADING SEPARATE.
           05  ATM-CASSETTE             OCCURS 4 TIMES.
               10  ATM-CASS-DENOM       PIC 9(3).
               10  ATM-CASS-NOTES       PIC S9(4) COMP.
      *> BINARY
           05  ATM-SESSION-KEY          PIC X(16).
           05  ATM-RESPONSE-CD          PIC XX.
