      *****************************************************************
      * JUCHU.CPY  受注明細ファイル (SALES ORDERS, TOKYO BRANCH)
      * 漢字項目は UTF-8。 KANA FIELDS HOLD FULL-WIDTH KATAKANA.
      *****************************************************************
       01  JC-ORDER-REC.
           05  JC-ORDER-NO              PIC X(10).
           05  JC-CUST-NAME-KANJI       PIC X(40).
           05  JC-CUST-NAME-KANA        PIC X(30).
           05  JC-ADDR-KANJI            PIC X(60).
           05  JC-ORDER-DATE            PIC 9(8).
           05  JC-LINE                  OCCURS 4 TIMES.
               10  JC-ITEM-CODE         PIC X(8).
               10  JC-ITEM-NAME-KANJI   PIC X(24).
               10  JC-QTY               PIC S9(5)  COMP-3.
               10  JC-UNIT-YEN          PIC 9(7)   COMP-3.
           05  JC-TOTAL-YEN             PIC S9(11) COMP-3.
           05  JC-REMARKS-KANJI         PIC X(45).
