// The one Windows type the test camera's picture code needs, for a native build.
#pragma once
typedef unsigned char BYTE;
