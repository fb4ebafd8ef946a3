// What the system's mixers say about each wave-in device, printed beside the library's
// record level so that one sees which mixer took it.
#pragma once

// One line per wave-in device: its name, the number and name of its mixer, and the
// value range and first channel of that mixer's wave-in volume and the types of its
// sources, each line starting with `label`.
void PrintWaveInMixers(const char* label);
