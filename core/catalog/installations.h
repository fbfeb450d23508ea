#pragma once
// Duplicating and deleting installations, for the callers that want all of it.
#include "catalog/delete_installation.h"
#include "catalog/delete_safety.h"
#include "catalog/duplicate_installation.h"
#include "catalog/installation_name.h"
#include "catalog/installation_result.h"
#include "catalog/path_compare.h"
