// Placeholder so the library has a source until the module's code lands.
