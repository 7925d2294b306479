/* The one translation unit that holds the TrueType rasteriser's code. */
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb_truetype.h>
