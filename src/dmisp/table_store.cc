#include "dmisp/table_store.h"
