#include "dibcontrols/DIBKnobWithReset.h"
