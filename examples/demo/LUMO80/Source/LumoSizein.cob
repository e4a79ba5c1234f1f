*> LumoSizein: the size-input module of the demo installation.
*>
*> Asks on the console for the outline of one room and leaves it in
*> 座標.txt in the current folder (the main program starts the runtime with
*> the installation folder as the current folder):
*>   1  a rectangle from its width and depth,
*>   2  the points one by one ("x y code", an empty line ends),
*>   0  cancel.
*> Lengths are typed and written in millimetres, rounded to 0.1 mm. Every line of 座標.txt is
*> 20 characters and CR LF: column 1 blank ("4" on the last line, which marks
*> the end of the outline for Numora), X in columns 2-10, Y in 11-19, the
*> point code in column 20. The last line repeats the first point, so the
*> outline is closed. No end line with code 4 is written: the main program
*> appends its own end record.
*>
*> The file is written to 座標.tmp first and renamed over 座標.txt, so a
*> cancelled or failed run leaves the previous 座標.txt as it was.
*> RETURN-CODE: 0 outline written, 1 cancelled, 2 not written (error).
*>
*> Build: cobc -m -free LumoSizein.cob
IDENTIFICATION DIVISION.
PROGRAM-ID. LumoSizein.

ENVIRONMENT DIVISION.
INPUT-OUTPUT SECTION.
FILE-CONTROL.
    SELECT COORD-FILE ASSIGN TO WS-TEMP-NAME
        ORGANIZATION IS SEQUENTIAL
        ACCESS MODE IS SEQUENTIAL
        FILE STATUS IS WS-FILE-STATUS.

DATA DIVISION.
FILE SECTION.
FD COORD-FILE.
01 COORD-RECORD.
   05 CR-MARK          PIC X.
   05 CR-X             PIC -(6)9.9.
   05 CR-Y             PIC -(6)9.9.
   05 CR-CODE          PIC 9.
   05 CR-LINE-END      PIC XX.

WORKING-STORAGE SECTION.
01 WS-TEMP-NAME        PIC X(64) VALUE "座標.tmp".
01 WS-FINAL-NAME       PIC X(64) VALUE "座標.txt".
01 WS-FILE-STATUS      PIC XX.
01 WS-CRLF             PIC XX VALUE X"0D0A".

01 WS-ANSWER           PIC X(80).
01 WS-FIELDS.
   05 WS-FIELD         PIC X(40) OCCURS 4 TIMES.
01 WS-FIELD-COUNT      PIC 99.
01 WS-NUMBER           PIC S9(7)V9(4).
01 WS-VALID            PIC X.
   88 ANSWER-OK        VALUE "Y".
   88 ANSWER-BAD       VALUE "N".
01 WS-TRIES            PIC 99.
01 WS-MAX-TRIES        PIC 99 VALUE 5.
01 WS-DONE             PIC X.
   88 ENTRY-DONE       VALUE "Y".
01 WS-MENU             PIC X.
01 WS-RESULT           PIC 9 VALUE 0.
01 WS-RENAME-RESULT    PIC S9(9) COMP-5.

01 WS-LIMIT            PIC S9(7)V9 VALUE 999999.9.
01 WS-WIDTH            PIC S9(7)V9.
01 WS-DEPTH            PIC S9(7)V9.

*> 98 points typed plus the closing point: the main program takes at most
*> 99 lines.
01 WS-MAX-POINTS       PIC 99 VALUE 98.
01 WS-COUNT            PIC 999 VALUE 0.
01 WS-POINTS.
   05 WS-POINT OCCURS 99 TIMES.
      10 WS-PX         PIC S9(7)V9.
      10 WS-PY         PIC S9(7)V9.
      10 WS-PCODE      PIC 9.
01 WS-I                PIC 999.
01 WS-SHOW             PIC Z9.

PROCEDURE DIVISION.
MAIN-PARA.
    DISPLAY "=== 寸法入力 (LumoSizein) ==="
    PERFORM ASK-MENU
    EVALUATE WS-MENU
        WHEN "1"
            PERFORM ENTER-RECTANGLE
        WHEN "2"
            PERFORM ENTER-POINTS
        WHEN OTHER
            MOVE 1 TO WS-RESULT
    END-EVALUATE
    IF WS-RESULT = 0
        PERFORM CLOSE-OUTLINE
        PERFORM WRITE-COORD-FILE
    END-IF
    EVALUATE WS-RESULT
        WHEN 0
            MOVE WS-COUNT TO WS-SHOW
            DISPLAY "座標.txt に " FUNCTION TRIM(WS-SHOW) " 行を書きました。"
        WHEN 1
            DISPLAY "取り消しました。座標.txt は書き換えていません。"
        WHEN OTHER
            DISPLAY "座標.txt を書けませんでした。"
    END-EVALUATE
    MOVE WS-RESULT TO RETURN-CODE
    GOBACK.

ASK-MENU.
    MOVE SPACE TO WS-MENU
    MOVE 0 TO WS-TRIES
    PERFORM UNTIL WS-MENU = "0" OR "1" OR "2"
        IF WS-TRIES >= WS-MAX-TRIES
            MOVE "0" TO WS-MENU
            EXIT PERFORM
        END-IF
        DISPLAY "1=矩形(幅と奥行) 2=点を順に入力 0=取消 : " WITH NO ADVANCING
        MOVE SPACES TO WS-ANSWER
        ACCEPT WS-ANSWER
        MOVE FUNCTION TRIM(WS-ANSWER) TO WS-MENU
        IF FUNCTION LENGTH(FUNCTION TRIM(WS-ANSWER)) > 1
            MOVE SPACE TO WS-MENU
        END-IF
        IF WS-MENU NOT = "0" AND WS-MENU NOT = "1" AND WS-MENU NOT = "2"
            DISPLAY "0, 1, 2 のどれかを入力して下さい。"
            ADD 1 TO WS-TRIES
        END-IF
    END-PERFORM.

*> Width along X, depth along Y, all four sides reference segments (code 1).
ENTER-RECTANGLE.
    DISPLAY "幅 (mm) : " WITH NO ADVANCING
    PERFORM ACCEPT-LENGTH
    IF ANSWER-BAD
        MOVE 1 TO WS-RESULT
        EXIT PARAGRAPH
    END-IF
    COMPUTE WS-WIDTH ROUNDED = WS-NUMBER
    DISPLAY "奥行 (mm) : " WITH NO ADVANCING
    PERFORM ACCEPT-LENGTH
    IF ANSWER-BAD
        MOVE 1 TO WS-RESULT
        EXIT PARAGRAPH
    END-IF
    COMPUTE WS-DEPTH ROUNDED = WS-NUMBER
    MOVE 4 TO WS-COUNT
    MOVE 0 TO WS-PX(1) WS-PY(1)
    MOVE WS-WIDTH TO WS-PX(2)
    MOVE 0 TO WS-PY(2)
    MOVE WS-WIDTH TO WS-PX(3)
    MOVE WS-DEPTH TO WS-PY(3)
    MOVE 0 TO WS-PX(4)
    MOVE WS-DEPTH TO WS-PY(4)
    PERFORM VARYING WS-I FROM 1 BY 1 UNTIL WS-I > 4
        MOVE 1 TO WS-PCODE(WS-I)
    END-PERFORM.

*> A positive length within the field; asked again when it is not one.
ACCEPT-LENGTH.
    SET ANSWER-BAD TO TRUE
    MOVE 0 TO WS-TRIES
    PERFORM UNTIL ANSWER-OK OR WS-TRIES >= WS-MAX-TRIES
        MOVE SPACES TO WS-ANSWER
        ACCEPT WS-ANSWER
        MOVE WS-ANSWER TO WS-FIELD(1)
        PERFORM CHECK-NUMBER
        IF ANSWER-OK AND WS-NUMBER NOT > 0
            SET ANSWER-BAD TO TRUE
        END-IF
        IF ANSWER-BAD
            ADD 1 TO WS-TRIES
            IF WS-TRIES < WS-MAX-TRIES
                DISPLAY "0 より大きい数 (最大 999999.9) を入力して下さい : "
                    WITH NO ADVANCING
            END-IF
        END-IF
    END-PERFORM.

*> WS-FIELD(1) as a number within +-WS-LIMIT into WS-NUMBER.
CHECK-NUMBER.
    SET ANSWER-BAD TO TRUE
    IF WS-FIELD(1) = SPACES
        EXIT PARAGRAPH
    END-IF
    IF FUNCTION TEST-NUMVAL(FUNCTION TRIM(WS-FIELD(1))) NOT = 0
        EXIT PARAGRAPH
    END-IF
    IF FUNCTION ABS(FUNCTION NUMVAL(FUNCTION TRIM(WS-FIELD(1)))) > WS-LIMIT
        EXIT PARAGRAPH
    END-IF
    COMPUTE WS-NUMBER = FUNCTION NUMVAL(FUNCTION TRIM(WS-FIELD(1)))
    SET ANSWER-OK TO TRUE.

ENTER-POINTS.
    DISPLAY "点を 1 行に 1 点ずつ「X Y コード」で入力して下さい (mm)。"
    DISPLAY "コード 1=基準の辺 2=周長のみの辺。空の行で終わります。"
    DISPLAY "1 点目のコードは、最後に 1 点目へ戻る辺のコードになります。"
    MOVE 0 TO WS-COUNT
    MOVE 0 TO WS-TRIES
    MOVE "N" TO WS-DONE
    PERFORM UNTIL ENTRY-DONE
        COMPUTE WS-SHOW = WS-COUNT + 1
        DISPLAY "点 " WS-SHOW " : " WITH NO ADVANCING
        MOVE SPACES TO WS-ANSWER
        ACCEPT WS-ANSWER
        IF WS-ANSWER = SPACES
            MOVE "Y" TO WS-DONE
        ELSE
            PERFORM TAKE-POINT
            IF ANSWER-BAD
                ADD 1 TO WS-TRIES
                IF WS-TRIES >= WS-MAX-TRIES
                    DISPLAY "入力の誤りが続いたので取り消します。"
                    MOVE 1 TO WS-RESULT
                    EXIT PARAGRAPH
                END-IF
                DISPLAY "「X Y コード」(コードは 1 か 2) で入力して下さい。"
            ELSE
                MOVE 0 TO WS-TRIES
                IF WS-COUNT >= WS-MAX-POINTS
                    DISPLAY "点は " WS-MAX-POINTS " 点までです。入力を終わります。"
                    MOVE "Y" TO WS-DONE
                END-IF
            END-IF
        END-IF
    END-PERFORM
    IF WS-COUNT < 2
        DISPLAY "点が 2 点未満です。"
        MOVE 1 TO WS-RESULT
    END-IF.

*> One answer "x y code" appended as the next point when it is sound.
TAKE-POINT.
    SET ANSWER-BAD TO TRUE
    MOVE SPACES TO WS-FIELDS
    MOVE 0 TO WS-FIELD-COUNT
    UNSTRING FUNCTION TRIM(WS-ANSWER) DELIMITED BY ALL SPACE
        INTO WS-FIELD(1) WS-FIELD(2) WS-FIELD(3) WS-FIELD(4)
        TALLYING IN WS-FIELD-COUNT
    END-UNSTRING
    IF WS-FIELD-COUNT NOT = 3
        EXIT PARAGRAPH
    END-IF
    IF WS-FIELD(3) NOT = "1" AND WS-FIELD(3) NOT = "2"
        EXIT PARAGRAPH
    END-IF
    PERFORM CHECK-NUMBER
    IF ANSWER-BAD
        EXIT PARAGRAPH
    END-IF
    ADD 1 TO WS-COUNT
    COMPUTE WS-PX(WS-COUNT) ROUNDED = WS-NUMBER
    MOVE WS-FIELD(2) TO WS-FIELD(1)
    PERFORM CHECK-NUMBER
    IF ANSWER-BAD
        SUBTRACT 1 FROM WS-COUNT
        EXIT PARAGRAPH
    END-IF
    COMPUTE WS-PY(WS-COUNT) ROUNDED = WS-NUMBER
    MOVE WS-FIELD(3) TO WS-PCODE(WS-COUNT).

*> The outline ends where it began: the first point again, with the first
*> point's code as the code of the closing segment (unless the last point
*> typed is already the first one).
CLOSE-OUTLINE.
    IF WS-PX(WS-COUNT) = WS-PX(1) AND WS-PY(WS-COUNT) = WS-PY(1)
        EXIT PARAGRAPH
    END-IF
    ADD 1 TO WS-COUNT
    MOVE WS-PX(1) TO WS-PX(WS-COUNT)
    MOVE WS-PY(1) TO WS-PY(WS-COUNT)
    MOVE WS-PCODE(1) TO WS-PCODE(WS-COUNT).

WRITE-COORD-FILE.
    OPEN OUTPUT COORD-FILE
    IF WS-FILE-STATUS NOT = "00"
        DISPLAY "座標.tmp を作れません (状態 " WS-FILE-STATUS ")"
        MOVE 2 TO WS-RESULT
        EXIT PARAGRAPH
    END-IF
    PERFORM VARYING WS-I FROM 1 BY 1 UNTIL WS-I > WS-COUNT
        IF WS-I = WS-COUNT
            MOVE "4" TO CR-MARK
        ELSE
            MOVE SPACE TO CR-MARK
        END-IF
        MOVE WS-PX(WS-I) TO CR-X
        MOVE WS-PY(WS-I) TO CR-Y
        MOVE WS-PCODE(WS-I) TO CR-CODE
        MOVE WS-CRLF TO CR-LINE-END
        WRITE COORD-RECORD
        IF WS-FILE-STATUS NOT = "00"
            DISPLAY "座標.tmp に書けません (状態 " WS-FILE-STATUS ")"
            MOVE 2 TO WS-RESULT
        END-IF
    END-PERFORM
    CLOSE COORD-FILE
    IF WS-RESULT NOT = 0
        CALL "CBL_DELETE_FILE" USING WS-TEMP-NAME
        EXIT PARAGRAPH
    END-IF
    CALL "CBL_RENAME_FILE" USING WS-TEMP-NAME WS-FINAL-NAME
        RETURNING WS-RENAME-RESULT
    IF WS-RENAME-RESULT NOT = 0
        DISPLAY "座標.tmp を 座標.txt に置き換えられません。"
        CALL "CBL_DELETE_FILE" USING WS-TEMP-NAME
        MOVE 2 TO WS-RESULT
    END-IF.
