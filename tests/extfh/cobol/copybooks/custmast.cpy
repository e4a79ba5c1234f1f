000100******************************************************************CUSTMAST
000200*  CUSTMAST.CPY - CUSTOMER MASTER RECORD                         *CUSTMAST
000300*  ONE RECORD PER BILL-TO ACCOUNT, KEYED ON CM-CUST-KEY.         *CUSTMAST
000400*  03/14/97 RJK  ADDED CM-AGING TABLE FOR THE COLLECTIONS RUN    *CUSTMAST
000500*  11/02/01 DLP  ZIP+4 SPLIT OUT OF CM-ZIP                       *CUSTMAST
000600******************************************************************CUSTMAST
000700 01  CUST-MASTER-REC.                                             CUSTMAST
000800     05  CM-CUST-KEY.                                             CUSTMAST
000900         10  CM-REGION-CD            PIC X(2).                    CUSTMAST
001000         10  CM-CUST-NO              PIC 9(7)     COMP-3.         CUSTMAST
001100     05  CM-STATUS-CD                PIC X        VALUE "A".      CUSTMAST
001200         88  CM-ACTIVE                            VALUE "A".      CUSTMAST
001300         88  CM-ON-HOLD                           VALUE "H".      CUSTMAST
001400         88  CM-CLOSED                            VALUE "C" "X".  CUSTMAST
001500     05  CM-NAME-ADDR.                                            CUSTMAST
001600         10  CM-CUST-NAME            PIC X(30).                   CUSTMAST
001700         10  CM-ADDRESS.                                          CUSTMAST
001800             15  CM-STREET-LINES.                                 CUSTMAST
001900                 20  CM-STREET-1     PIC X(25).                   CUSTMAST
002000                 20  CM-STREET-2     PIC X(25).                   CUSTMAST
002100             15  CM-CITY-STATE-ZIP.                               CUSTMAST
002200                 20  CM-CITY         PIC X(18).                   CUSTMAST
002300                 20  CM-STATE        PIC XX.                      CUSTMAST
002400                 20  CM-ZIP-CODE.                                 CUSTMAST
002500                     25  CM-ZIP-5    PIC 9(5).                    CUSTMAST
002600                     25  CM-ZIP-4    PIC 9(4).                    CUSTMAST
002700     05  FILLER                      PIC X(3).                    CUSTMAST
002800     05  CM-CREDIT-INFO.                                          CUSTMAST
002900         10  CM-CREDIT-LIMIT         PIC S9(7)V99 COMP-3.         CUSTMAST
003000         10  CM-CURRENT-BAL          PIC S9(8)V99 COMP-3.         CUSTMAST
003100         10  CM-YTD-SALES            PIC 9(6)V99  PACKED-DECIMAL. CUSTMAST
003200         10  CM-ORDER-COUNT          PIC 9(5)     COMP-3          CUSTMAST
003300                                     VALUE ZERO.                  CUSTMAST
003400         10  CM-AGING.                                            CUSTMAST
003500             15  CM-AGING-BUCKET     OCCURS 4 TIMES.              CUSTMAST
003600                 20  CM-AGED-AMT     PIC S9(6)V99 COMP-3.         CUSTMAST
003700                 20  CM-AGED-INVOICES                             CUSTMAST
003800                                     PIC 9(3)     COMP-3.         CUSTMAST
003900         10  FILLER.                                              CUSTMAST
004000             15  FILLER              PIC X(4).                    CUSTMAST
004100             15  FILLER              PIC 9(4).                    CUSTMAST
004200     05  CM-LAST-ACTIVITY.                                        CUSTMAST
004300         10  CM-LAST-ORDER-DATE.                                  CUSTMAST
004400             15  CM-LAST-ORDER-CCYY  PIC 9(4).                    CUSTMAST
004500             15  CM-LAST-ORDER-MMDD.                              CUSTMAST
004600                 20  CM-LAST-ORDER-MM                             CUSTMAST
004700                                     PIC 99.                      CUSTMAST
004800                 20  CM-LAST-ORDER-DD                             CUSTMAST
004900                                     PIC 99.                      CUSTMAST
005000         10  CM-LAST-PAY-AMT         PIC S9(7)V99 COMP-3.         CUSTMAST
005100     05  CM-SALES-REP                PIC X(3).                    CUSTMAST
005200     05  CM-REMARK                   PIC X(70) VALUE "ACCOUNT OPENCUSTMAST
005300-    "ED UNDER THE STANDARD TERMS OF SALE".                       CUSTMAST
