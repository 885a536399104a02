#pragma once

// Takes the toolkit off the machine in its fixed order. Always returns 0.
int UninstallKorvane();
