// The filter-file module: value formatting shared by report decoding and the
// station's tools.
#ifndef LIB_LIBOVIFILT_PARSE_FILTER_H_
#define LIB_LIBOVIFILT_PARSE_FILTER_H_

// Name of a relational operator code 0..14 (some with a trailing blank), or
// "unknown operator".  Static text.
const char* relop2str(unsigned int op);

// Priority word: 0 and 1 "low", 2 "med", 3 and above "high".  Static text.
const char* prio2str(unsigned int priority);

// Text of a value of the given type code and length, in a module buffer of
// 256 bytes that the next call overwrites (texts are cut to 255
// characters); null for a type outside 1 to 22.
char* value2str(unsigned int type, const void* value, unsigned int length);

#endif  // LIB_LIBOVIFILT_PARSE_FILTER_H_
