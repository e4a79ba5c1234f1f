// An element subtree written as XML text, or listed to the trace.
#pragma once

#include "elements/xml_element.h"

#include <cstdio>

namespace bxml {

// Writes `e` and its subtree at `indent`: comments, start tag with one
// attribute per line, text, children two places further in, end tag; an
// element with neither text nor children as an empty-element tag. Without
// recursion, however deep the tree. False when the stream reported an error.
bool write_element(FILE* stream, const XmlElement* e, int indent);

// Lists the children of `e` (not `e` itself) to the trace, one line each
// with their occurrence numbers, text and attributes, each level one place
// further in than its parent, from `indent` on.
void trace_element(const XmlElement* e, int indent);

} // namespace bxml
