       >>SOURCE FORMAT FREE
*> -----------------------------------------------------------------------
*> SHIPPING.CPY   Carrier manifest, free form.
*> Three record shapes share the file and carry no type code: the
*> manifest header, one package detail per carton, and the manifest
*> trailer. Each has a length of its own, and that tells them apart.
*> -----------------------------------------------------------------------
01 SHP-MANIFEST-HDR.
	05 SHP-MANIFEST-NO	PIC X(10).
	05 SHP-CARRIER-SCAC	PIC X(4).
	05 SHP-SHIP-DATE	PIC 9(8).
	05 SHP-ORIGIN-DC	PIC X(5).
01 SHP-PACKAGE-DTL.
	05 SHP-TRACKING-NO	PIC X(22).
	05 SHP-WEIGHT-LBS	PIC 9(4)V9	COMP-3.
	05 SHP-DIMENSIONS.
		10 SHP-LENGTH-IN	PIC 999.
		10 SHP-WIDTH-IN	PIC 999.
		10 SHP-HEIGHT-IN	PIC 999.
	05 SHP-SERVICE-LEVEL	PIC X(3).  *> GND, 2DA, NDA
	05 SHP-DECLARED-VALUE	PIC S9(7)V99	COMP-3.
	05 SHP-CONSIGNEE.
		10 SHP-CONS-NAME	PIC X(30).
		10 SHP-CONS-ZIP		PIC X(10).
01 SHP-MANIFEST-TRL.
	05 SHP-PACKAGE-COUNT	PIC 9(5).
	05 SHP-TOTAL-WEIGHT	PIC 9(7)V9.
