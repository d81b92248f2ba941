/* A tiny program for the ELF round trips: code, a table placed after a gap, initialised
   data that runs in RAM but is loaded into flash, and zeroed data that takes no flash. */
const unsigned char table[300] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xFF, 0x00, 0x55, 0xAA};
int counter = 0x12345678;
int zeroes[16];

int entry(void) {
    zeroes[counter & 15] = table[counter & 7];
    return zeroes[3] + counter;
}
