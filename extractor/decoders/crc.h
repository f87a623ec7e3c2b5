// CRC-32 of ZIP (IEEE 802.3, reflected polynomial 0xEDB88320), over the
// table in storage.crcTable, which the cipher's key update reads as well.
#ifndef OSTREL_DECODERS_CRC_H
#define OSTREL_DECODERS_CRC_H

#include <stdint.h>

// Fills storage.crcTable (which must exist): entry n is n run through eight
// shift-and-conditional-XOR steps. Also picks UpdateCrc's bulk path for
// this CPU (carry-less multiplication where the CPU has it).
void BuildCrcTable(void);
// 1: UpdateCrc uses only the table path from now on (so that tests and
// benchmarks reach it on any CPU); 0: the path BuildCrcTable picks.
void CrcForceTablePath(int on);
// Adds length bytes to crc: no preset and no final complement inside.
// A length of 0 or less returns crc unchanged.
uint32_t UpdateCrc(uint32_t crc, const uint8_t *buffer, int32_t length);

#endif
