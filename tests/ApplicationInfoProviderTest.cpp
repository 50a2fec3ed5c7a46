// Tests follow in a later change.
