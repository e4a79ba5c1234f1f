      *> The record of the file statements driver (fileops.cob).
       01  OPS-REC.
           05  OPS-ID          PIC 9(6).
           05  OPS-QTY         PIC S9(7)V99 COMP-3.
           05  OPS-NAME        PIC X(12).
