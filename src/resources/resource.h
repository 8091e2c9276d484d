// Resource identifiers of Korvane.dll.
#pragma once
