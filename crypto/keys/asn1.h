// ASN.1 DER (and the BER indefinite length) read into a tree of nodes that
// point into the caller's buffer, typed readers for the values the system
// needs, a search for the value behind an OID, and two writers: an INTEGER
// from a BigInt and a SEQUENCE built by appending whole elements.
//
// The tree copies nothing: the buffer given to ASN1_Decode must stay alive
// and unchanged while the tree is used. A node made by ASN1_Create is a root
// without an element of its own; the buffer's top-level elements become its
// children, so a certificate's outer SEQUENCE is element 0 of the root.
//
// Every length is checked against what remains of its enclosing element,
// lengths take at most four bytes, and nesting (also through the trial
// decode of OCTET and BIT STRING contents) stops at ASN1_MAX_DEPTH levels:
// hostile bytes give 0, never a read outside the buffer or a deep recursion.
// Accessors take a null node and answer 0 or null, so a chain of lookups
// needs no checks between its steps.
#pragma once

#include "crypto/keys/big_int.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define ASN1_CLASSID 0xe7d274d9u
#define ASN1_MAX_DEPTH 64

#define ASN1_TYPE_INTEGER 2
#define ASN1_TYPE_BITSTRING 3
#define ASN1_TYPE_OCTETSTRING 4
#define ASN1_TYPE_NULL 5
#define ASN1_TYPE_OID 6
#define ASN1_TYPE_UTF8STRING 12
#define ASN1_TYPE_SEQUENCE 16
#define ASN1_TYPE_SET 17
#define ASN1_TYPE_PRINTABLESTRING 19
#define ASN1_TYPE_T61STRING 20
#define ASN1_TYPE_IA5STRING 22
#define ASN1_TYPE_UTCTIME 23
#define ASN1_TYPE_BMPSTRING 30

RUNTIME_EXTERN_C_BEGIN

typedef struct ASN1 ASN1;

int32 ASN1_Create(ASN1 **Handle);
// Frees the node with all its descendants and clears the handle.
int32 ASN1_Delete(ASN1 **Handle);
CLASS_DECLARE_REFERENCE(ASN1, ASN1)

// Appends the buffer's top-level elements to the node's children. 1 when the
// whole buffer decoded (one stray byte at the end of a range is tolerated);
// 0 for a null buffer or malformed data, leaving a partial tree.
int32 ASN1_Decode(ASN1 *Handle, const void *Bytes, int32 Size);
// Removes and frees all descendants; the node's own fields stay.
int32 ASN1_Reset(ASN1 *Handle);

// The child at a 0-based index (below 0 gives the first); null when absent.
ASN1 *ASN1_GetElement(ASN1 *Handle, int32 Index);
int32 ASN1_GetElementCount(ASN1 *Handle, int32 *Count);
// The tag's low five bits (0 for a null node).
int32 ASN1_GetType(ASN1 *Handle);
// The tag's low eight bits: class, constructed bit and number.
int32 ASN1_GetTag(ASN1 *Handle, uint8 *Tag);
// The element's first header byte and its whole size, header included.
const uint8 *ASN1_GetNodePtr(ASN1 *Handle);
int32 ASN1_GetNodeSize(ASN1 *Handle);
const uint8 *ASN1_GetValuePtr(ASN1 *Handle);
int32 ASN1_GetValueSize(ASN1 *Handle);

// INTEGER content as an unsigned big-endian number (a negative INTEGER reads
// as a large positive one).
int32 ASN1_ParseBigInt(ASN1 *Handle, BigInt *Number);
// INTEGER of at most 4 content bytes, not sign-extended; cleared first.
int32 ASN1_ParseInt32(ASN1 *Handle, uint32 *Value);
// Dotted text of an OBJECT IDENTIFIER; 0 for an empty or malformed one (an
// arc over 32 bits, a padded arc, an unfinished last arc) and when the text
// does not fit.
int32 ASN1_ParseOid(ASN1 *Handle, char *Text, int32 Size);
// UTF8String, PrintableString, T61String and IA5String as bytes, BMPString
// converted to UTF-8; cut to the buffer, always terminated. A zero byte or
// zero BMP unit inside the value fails: no name may end early.
int32 ASN1_ParseString(ASN1 *Handle, char *Text, int32 Size);
// UTCTime YYMMDD[hh[mm[ss]]] (year 2000 + YY, zone ignored) as seconds since
// 1970; cleared first. Non-digits fail.
int32 ASN1_ParseUTCTime(ASN1 *Handle, float64 *Time);

// 1 when the bytes are exactly one element in DER alone: definite lengths in
// their shortest form, constructed form only for SEQUENCE and SET (and tagged
// elements), one encoding for BOOLEAN, INTEGER, BIT STRING (unused bits
// zero), NULL and OBJECT IDENTIFIER, nothing after the element. Otherwise 0
// and, when Fault is given, the first rule broken. Primitive contents (an
// OCTET STRING's bytes) are not looked into.
int32 ASN1_CheckDer(const void *Bytes, int32 Size, const char **Fault);

// Depth-first search for an OBJECT IDENTIFIER equal to Oid; the value is
// the element that follows it among its siblings. Depth 0xFFFFFFFF searches
// without limit.
int32 ASN1_Find(ASN1 *Handle, const char *Oid, uint32 Depth, ASN1 **Value);

// Writes a non-negative INTEGER in DER (00 in front when the top bit is set,
// zero as 02 01 00) and answers the bytes written; 0 when it does not fit or
// the number is negative. A given node is reset and gets the written element
// decoded into it.
int32 ASN1_EncodeBigInt(ASN1 *Handle, const BigInt *Number, void *Buffer, int32 Size);
// Writes the identifier and the shortest definite length of an element of
// Length content bytes and answers the bytes written; 0 when it does not fit.
int32 ASN1_EncodeHeader(uint8 Tag, uint32 Length, void *Buffer, int32 Size);
// Appends one whole element to the SEQUENCE under construction in Buffer
// (all zero at first) and reports the sequence's size; 0 when the element is
// not one whole element, the buffer holds something else or the result does
// not fit. A given node gets the new sequence decoded into it.
int32 ASN1_EncodeSequenceAddNode(ASN1 *Handle, void *Buffer, int32 Size, const void *Element, int32 ElementSize,
                                 int32 *SequenceSize);

RUNTIME_EXTERN_C_END
