program Exceptions;
{$R+}
{ Exceptions: try/except/finally, raise and the run-time errors. }
var
  i, z: Integer;
  s: string;
  a: array of Integer;
  log: string;

procedure Check(n: Integer);
begin
  if n < 0 then
    raise Exception.Create('negative: ' + IntToStr(n));
  AddMsgDebug('ok ' + IntToStr(n));
end;

function Guarded(n: Integer): Integer;
begin
  Result := 0;
  try
    Result := 100 div n;
  finally
    log := log + 'f' + IntToStr(n) + ' ';
  end;
end;

function EarlyExit: Integer;
begin
  Result := 1;
  try
    Result := 2;
    Exit;
  finally
    log := log + 'exit-finally ';
  end;
  Result := 3;
end;

begin
  try
    Check(1);
    Check(-2);
    Check(3);
  except
    on E: Exception do AddMsgDebug('caught ' + E.Message);
  end;
  z := 0;
  try
    i := 10 div z;
    AddMsgDebug('not here');
  except
    on E: EDivByZero do AddMsgDebug(E.ClassName + ': ' + E.Message);
  end;
  try
    i := StrToInt('12x');
  except
    on E: EConvertError do AddMsgDebug(E.ClassName + ': ' + E.Message);
  end;
  SetLength(a, 2);
  try
    a[2] := 1;
  except
    on E: ERangeError do AddMsgDebug(E.ClassName + ': ' + E.Message);
  end;
  s := 'abc';
  try
    AddMsgDebug(s[4]);
  except
    on E: Exception do AddMsgDebug(E.ClassName + ': ' + E.Message);
  end;
  log := '';
  AddMsgDebug(IntToStr(Guarded(5)));
  try
    Guarded(0);
  except
    AddMsgDebug('plain except');
  end;
  AddMsgDebug(log);
  log := '';
  AddMsgDebug(IntToStr(EarlyExit) + ' ' + log);
  try
    try
      raise Exception.Create('inner');
    except
      on E: Exception do
      begin
        AddMsgDebug('handling ' + E.Message);
        raise;
      end;
    end;
  except
    on E: Exception do AddMsgDebug('re-raised ' + E.Message);
  end;
  try
    try
      raise Exception.Create('through finally');
    finally
      AddMsgDebug('finally runs');
    end;
  except
    on E: EDivByZero do AddMsgDebug('wrong handler');
    on E: Exception do AddMsgDebug('outer ' + E.Message);
  end;
  for i := 1 to 3 do
  begin
    try
      if i = 2 then continue;
      AddMsgDebug('loop ' + IntToStr(i));
    finally
      AddMsgDebug('loop finally ' + IntToStr(i));
    end;
  end;
  try
    raise Exception.CreateFmt('code %d: %s', [7, 'seven']);
  except
    on E: Exception do AddMsgDebug(E.Message);
  end;
  try
    s := Format('%d', ['text']);
  except
    on E: Exception do AddMsgDebug('format error caught');
  end;
  AddMsgDebug('end');
end.
