// Shared test helpers live beside this file.
