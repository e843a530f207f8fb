#include "pbt/PbtFlags.h"

int gTypedClassifierFiles = 1;
int gMinClassSamples = 50;
int gTreeLayoutFlag = 1;
int gClassifierVersion = 0;
