// Creation of the suite's program group from the file list setup.log.
#ifndef IMPORT_PROGRAM_GROUP_H
#define IMPORT_PROGRAM_GROUP_H

#include <cstdio>

// Creates the group "VKO Halvermont" and one item per item line of the open
// file list `stream`, read from its beginning. An item whose command would not
// fit the 255-character command buffer, that has no name separator or no
// double quote, or whose install directory, name or title holds a double
// quote is left out; brackets are sent inside the quoted arguments.
// Each command waits for Program Manager's answer. When the group is not
// created no item is sent; after a command that timed out the items left are
// not sent. A null stream sends nothing. Returns 1 when the group and every
// item were carried out, 0 when the group lacks items (one not carried out,
// or a read error in the list), -1 when the group was not created.
int CreateProgramGroup(FILE *stream);

#endif
