// Authenticode signing of a finished SFX file through osslsigncode.
//
// Format notes: the signature's certificate table is appended at the end of
// the file, after the ZIP end record, and the PE header's certificate entry
// points to it. Bytes appended after signing break the signature, so
// signing is the last step. A ZIP reader expects the end record's comment
// to reach the end of the file; strict ones refuse trailing bytes. So the
// comment length is set to cover the table: a first signing of a copy
// tells how many bytes the table (with its alignment padding) takes, the
// length field is set to that, and the file is signed for real. The table's
// size does not depend on the two bytes changed.
#ifndef OSTREL_BUILDER_SIGN_H
#define OSTREL_BUILDER_SIGN_H

#include <stdint.h>

#include <string>

#include "builder/sfx_assemble.h"

// Signs output->temp (complete, unsigned, its end record the last 22
// bytes) with the certificate and key; signingTime >= 0 fixes the signing
// time (SOURCE_DATE_EPOCH) so that equal inputs give equal files.
// Returns 1 with output->file reopened on the signed file; 0 with error.
int SignOutput(SfxOutput *output, const std::string &cert, const std::string &key, int64_t signingTime,
               std::string *error);

#endif
