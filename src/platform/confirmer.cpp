#include "platform/confirmer.h"

Confirmer::~Confirmer() = default;
