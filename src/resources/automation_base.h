// Included by the header widl generates from korvane.idl in place of the
// minimal declarations of automation_base.idl.
#pragma once
#include <oaidl.h>
