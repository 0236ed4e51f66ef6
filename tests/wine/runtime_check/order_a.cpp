// Two objects of one source file: made in their order of definition, gone in the reverse order.
#include "order.h"

Recorded a1('1');
Recorded a2('2');
