      *> Binary fields whose sizes depend on the binary-size rule:
      *> 1 + 4 + 2 bytes by default (1-2-4-8), 2 + 4 + 2 with -std=ibm
      *> (2-4-8), 1 + 3 + 2 with -std=mf (1--8).
       01  BINS-REC.
           05  BIN-SMALL       PIC S99 COMP.
           05  BIN-WIDE        PIC S9(6) COMP.
           05  BIN-NATIVE      PIC S9(4) COMP-5.
           05  BIN-NAME        PIC X(8).
