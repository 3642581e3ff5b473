// Import of the hardware-monitor defaults from <install dir>\default.cfg into
// the monitor keys LM78 and LM75 of the product key.
#ifndef IMPORT_DEFAULTS_FILE_H
#define IMPORT_DEFAULTS_FILE_H

// Smallest size of a complete default.cfg: its last field ends at offset 1290.
#define DEFAULTS_FILE_SIZE 1291

// Returns 0 once the file has been imported. Returns 1 (after its message)
// when it cannot be opened or is too short to hold every field, and then no
// registry operation has taken place; 1 as well (with the same message) when
// a field cannot be read, or (without a message) when a monitor key or value
// cannot be written, and then the fields before it are stored.
int ImportMonitorDefaults();

#endif
