#include "kvbase/tarn_object.h"

TarnObject::TarnObject() = default;

TarnObject::~TarnObject() = default;
