// Resource identifiers of the COM server's registration: shared by the
// resource script and the code that loads the resources.
#pragma once

// The registration script, resource type "REGISTRY".
#define IDR_REGISTRATION_SCRIPT 101
// The type library, resource type "TYPELIB". Id 1 is where LoadTypeLib looks
// when it is given the library's own path.
#define IDR_TYPE_LIBRARY 1
