// keeps an empty layer buildable
