#pragma once
// The service scan: each service's image file must exist.

#include "scan/TFixRegistry.h"

// Over the subkeys of the current control set's "Services"; a service without
// "ImagePath" is not judged.
void ScanServices(TFixRegistry& engine);
