#pragma once
// Process-wide switches of the classifier library, set by the drivers and the
// appearance-model loader before the learners run (one thread only).

// Booster records carry a type byte before each member (1) or use the legacy layout (0).
extern int gTypedClassifierFiles;
// Minimum number of samples of an active class of a multi-class sample set.
extern int gMinClassSamples;
// Which stored node layout the multi-class tree reads (1 current, 0 the older two-branch one).
extern int gTreeLayoutFlag;
// Layout of the error-correcting-code record (from the model's settings file).
extern int gClassifierVersion;
