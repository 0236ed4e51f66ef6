#include "model_query.h"

int QueryModelName(char*) { return 0; }
