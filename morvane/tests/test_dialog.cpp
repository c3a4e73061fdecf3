// The dialog "Cálculo de AOD", offscreen.
