/*
 * brelrt_edit.h - numeric-edited fields: a number edited into a PICTURE such
 * as "ZZ,ZZ9.99-" or "$$$,$$9.99CR" byte for byte as GnuCOBOL 3.1's MOVE
 * edits it, and the number an edited text stands for.
 *
 * Numbers go in and come out as numeric text: an optional leading sign,
 * digits and one "." decimal point ("-12.50", "123", "0.05").
 *
 * Pictures are written as a copybook writes them, with repeat counts
 * ("Z(5)9.99"). The symbols taken: 9, Z, *, the currency sign $ (fixed
 * leftmost, or floating), + and - (fixed leftmost or rightmost, or
 * floating), CR, DB, the decimal point, the comma, B, 0, / and V. Refused
 * (-2): P, S and any other symbol; a picture with no digit position; a
 * second decimal point, sign or currency sign; a sign or currency sign
 * anywhere else than those places (a currency sign after a sign, "+$ZZ9",
 * and a currency sign at the right, "99.99$", among them); Z or * after a 9
 * or a floating string, both Z and *, Z or * after the point unless every
 * digit position is Z or *; a trailing sign with no 9, Z or * before it;
 * anything after CR, DB or a trailing sign; CR or DB after a floating string
 * that runs past the point (cobc refuses it); more than
 * BRELRT_EDIT_POSITIONS_MAX positions.
 *
 * With `decimal_comma` (DECIMAL-POINT IS COMMA) "," is the picture's
 * decimal point and "." its separator, in the picture and in the field; the
 * numeric text keeps ".".
 *
 * Plain C ABI. Nothing here throws or allocates.
 */
#ifndef BRELRT_EDIT_H
#define BRELRT_EDIT_H

#include <stddef.h>

#if defined(BRELRT_BUILDING) && defined(__GNUC__)
#define BRELRT_EDIT_API __attribute__((visibility("default")))
#else
#define BRELRT_EDIT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The most positions a picture may have (CR and DB count two, V none). */
#define BRELRT_EDIT_POSITIONS_MAX 256

/* Bits of brelrt_edit_number's `lost`. */
#define BRELRT_EDIT_LOST_HIGH 1 /* high-order digits that are not zero */
#define BRELRT_EDIT_LOST_LOW 2  /* decimals that are not zero */
#define BRELRT_EDIT_LOST_SIGN 4 /* the field shows no sign for a negative value */

/* Edits the numeric text `number` (`length` bytes; a zero byte ends it
 * sooner; blanks around it are ignored) into `picture` over the `size` bytes
 * at `field`, as GnuCOBOL 3.1's MOVE to a numeric-edited item does: digits
 * beyond the picture's are lost at either end, the value is zero-suppressed,
 * floating symbols go just left of the first digit shown, and the field is
 * all blanks when `blank_when_zero` and every digit it takes is zero.
 *
 * GnuCOBOL's own ways are kept, so that the bytes are the same:
 *   - a leading sign or currency sign, and the first symbol of a floating
 *     string, take the digit of the place above the picture's digits, and a
 *     trailing + or - the digit of the place below them; they never show it,
 *     but one that is not zero ends zero suppression: 1000 into "+ZZ9.99"
 *     gives "+000.00", 0.001 into "ZZ.ZZ-" gives "  .00 " where 0.0001 gives
 *     all blanks, and -0.001 into "9.99-" gives "0.00-";
 *   - decimal places that zero suppression reaches show "0" ("***.*B*" with
 *     0.05 gives "***.005");
 *   - a floating sign after a fixed currency sign has no place of its own
 *     when the value fills the string: -1000 into "$+++9.99" gives "$1000.00".
 *
 * `lost` (may be null) gets the BRELRT_EDIT_LOST_ bits: a digit that is not
 * zero above or below the digits the field shows, and a negative value that
 * the field shows without its sign (a picture without one, digits that all
 * show zero, or a floating sign left no place); 0 when the field shows the
 * value whole.
 *
 * Returns 0; -1 when `number` is not numeric text; -2 for a picture it
 * cannot take (see above; also * with `blank_when_zero`, which cobc
 * refuses) or a `size` that is not the picture's. The field is written only
 * on 0. */
BRELRT_EDIT_API int brelrt_edit_number(const char* picture, int blank_when_zero, int decimal_comma,
                                       const char* number, size_t length, unsigned char* field,
                                       size_t size, int* lost);

/* The number that an edited text stands for, as numeric text in `out`
 * (zero-terminated). `text` (`length` bytes, a zero byte ends it sooner) is
 * what a field of `picture` (`size` positions) held, blanks around it
 * removed or not, or a number written by hand.
 *
 * The text is first placed in the field at each place it may begin. Where
 * its bytes are just what brelrt_edit_number writes for some value, that
 * value is the answer: the digits of the digit positions, the sign of the
 * sign positions, the picture's decimals kept ("12.50-" of "ZZ,ZZ9.99-"
 * gives "-12.50"; "0120" of "9990" gives "12"). A field that only a digit
 * nobody sees can give (1000 in "+ZZ9.99" gives "+000.00") reads as the
 * value with a 1 there ("1000.00"), and a field of zero digits that BLANK
 * WHEN ZERO would not have left (0.001 in "ZZ9.99-" gives "  0.00 ") reads
 * as such a value ("0.001"): so that editing the answer again gives the
 * same bytes, with BLANK WHEN ZERO or not. Failing that, a placement where
 * each position holds what the picture may put there is read the same way.
 *
 * When no placement fits, the text is read as a plain number: blanks around
 * it, an optional sign "+" or "-" before or after it or "CR" or "DB" after
 * it, a currency sign before the digits when the picture has one, digits
 * with the picture's separator between them (ignored), one decimal point of
 * the picture ("," with `decimal_comma`). Leading zeros are dropped; a text
 * of blanks gives "0".
 *
 * Returns 0; -1 when the text is no number; -2 for a picture it cannot take,
 * a `size` that is not the picture's, or an `out` too small for the answer
 * (`out` is then left empty when it has room for that). */
BRELRT_EDIT_API int brelrt_deedit_number(const char* picture, int decimal_comma, const char* text,
                                         size_t length, size_t size, char* out, size_t out_size);

#ifdef __cplusplus
}
#endif

#endif /* BRELRT_EDIT_H */
