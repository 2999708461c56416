// The plane-spacing calculator.
#pragma once
