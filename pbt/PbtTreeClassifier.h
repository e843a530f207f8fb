#pragma once
// PbtTreeClassifier: the family base of the tree-shaped classifiers. It adds nothing
// to PbtClassifier; it marks the classifiers whose nodes are classifiers themselves.
#include "pbt/PbtClassifier.h"

class PbtTreeClassifier : public PbtClassifier {};
